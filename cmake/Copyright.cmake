# SPDX-License-Identifier: MIT
# The licence, installed with the files it covers, in the machine-readable
# form Debian asks of a package's copyright file.
set(docDir ${PROJECT_BINARY_DIR}/doc)

# Machine-readable, with LICENSE's terms under Debian's name for them.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX REPLACE "^.*\n\n(Permission)" "\\1" terms "${license}")
string(REGEX REPLACE "\n+$" "" terms "${terms}")
string(REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REPLACE "\n" "\n " terms "${terms}")
file(CONFIGURE OUTPUT ${docDir}/copyright @ONLY CONTENT [[
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: dotprod

Files: *
Copyright: 2026 The dotprod authors
License: Expat
 @terms@
]])
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)

install(FILES ${docDir}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
