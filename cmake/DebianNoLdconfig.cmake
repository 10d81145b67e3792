# SPDX-License-Identifier: MIT
# Run by CPack once the packages are built: unpacks the shared library's
# package (CPACK_DOTPROD_RUNTIME_DEB, its file name up to the architecture;
# CPack hands on only variables named CPACK_...) and the programs' (which
# hold the sweep's witness, a library no program links: CPACK_DOTPROD_
# PROGRAMS_DEB), drops the postinst and postrm that call ldconfig, and
# packs each again. The library's triggers file does their work.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
    get_filename_component(name ${deb} NAME)
    if(NOT name MATCHES "^(${CPACK_DOTPROD_RUNTIME_DEB}|${CPACK_DOTPROD_PROGRAMS_DEB})_[^_]+\\.deb$")
        continue()
    endif()
    set(tree ${CPACK_TOPLEVEL_DIRECTORY}/no-ldconfig)
    file(REMOVE_RECURSE ${tree})
    execute_process(COMMAND dpkg-deb -R ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE ${tree}/DEBIAN/postinst ${tree}/DEBIAN/postrm)
    execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip -b ${tree} ${deb}
        OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE ${tree})
    set(found TRUE)
endforeach()
if(NOT found)
    message(FATAL_ERROR "no ${CPACK_DOTPROD_RUNTIME_DEB} package among: ${CPACK_PACKAGE_FILES}")
endif()
