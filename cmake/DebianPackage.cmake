# SPDX-License-Identifier: MIT
# The Debian package of the benchmark and the library.
if(NOT DOTPROD_INSTALL)
    message(FATAL_ERROR "DOTPROD_PACKAGE needs DOTPROD_INSTALL: the package holds what is installed")
endif()

set(CPACK_PACKAGE_NAME dotprod)
set(CPACK_PACKAGE_CONTACT "dotprod maintainers <maintainers@dotprod.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "dotprod LENGTH computes the dot product of two pseudo-random
single-precision vectors in one plain loop that prints every running sum,
and reports the loop's wall-clock time. Ships the benchmark, its manual
page and the C-callable helper library (static library, header, CMake
package and pkg-config file).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Dependencies are read off the built binary, not written by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
