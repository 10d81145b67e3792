# SPDX-License-Identifier: MIT
"""What the sweep ran on, for the JSON and the plot's title."""

import os
import platform


def cpu_model():
    try:
        with open("/proc/cpuinfo", errors="replace") as f:
            for line in f:
                key, _, value = line.partition(":")
                if key.strip() == "model name":
                    return value.strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def machine():
    try:
        libc = os.confstr("CS_GNU_LIBC_VERSION")
    except (ValueError, OSError):
        libc = " ".join(platform.libc_ver())
    return {"cpu": cpu_model(), "cores": os.cpu_count(),
            "kernel": f"{platform.system()} {platform.release()}", "libc": libc}


def describe(box):
    return f"{box['cpu']}, {box['cores']} cores, {box['kernel']}, {box['libc']}"
