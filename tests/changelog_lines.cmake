# SPDX-License-Identifier: MIT
# A changelog item's line of 80 bytes is taken and one of 81 refused,
# naming its length: lintian refuses longer lines. The refusal ends the
# script, so the test reads what it printed.
include(${SOURCE_DIR}/cmake/DebianChangelog.cmake)
# An Unreleased entry on top is no version of the package: left out.
set(history ${CMAKE_CURRENT_BINARY_DIR}/changelog_lines.md)
file(WRITE ${history} "# Changelog\n\n## Unreleased\n\n- next\n\n## 1.0.0 - 2026-01-01\n\n- first\n")
dotprod_debian_changelog(${history} ${history}.debian "M <m@example.org>" latest)
file(READ ${history}.debian debian)
string(FIND "${debian}" "next" unreleased)
message("latest ${latest}, unreleased at ${unreleased}")
string(REPEAT x 76 fits)  # after Debian's "  * ", 80 bytes
dotprod_debian_items("- ${fits}" items)
message("80 bytes taken")
dotprod_debian_items("- ${fits}x" items)
