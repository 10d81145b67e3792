# SPDX-License-Identifier: MIT
# A changelog item's line of 80 bytes is taken and one of 81 refused,
# naming its length: lintian refuses longer lines. The refusal ends the
# script, so the test reads what it printed.
include(${SOURCE_DIR}/cmake/DebianChangelog.cmake)
string(REPEAT x 76 fits)  # after Debian's "  * ", 80 bytes
dotprod_debian_items("- ${fits}" items)
message("80 bytes taken")
dotprod_debian_items("- ${fits}x" items)
