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
# A bracket or a semicolon is a byte of its line, and stays in it: three
# short lines after a bracket that is never closed are three lines.
string(REPEAT y 60 short)
dotprod_debian_items("- a ##[ b\n  ${short}\n  ${short};\n  ${short}" items)
string(FIND "${items}" "##[ b\n    ${short}\n    ${short};\n" kept)
if(kept GREATER -1)
    message("brackets taken")
endif()
string(REPEAT x 76 fits)  # after Debian's "  * ", 80 bytes
dotprod_debian_items("- ${fits}" items)
message("80 bytes taken")
dotprod_debian_items("- ${fits}x" items)
