# Run by CPack on the staged tree before the .deb is made: what Debian wants of a package beyond
# what `cmake --install` lays out (compressed man pages, copyright, compressed changelog).
set(root ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})
set(doc ${root}/share/doc/${CPACK_PACKAGE_NAME})

function(gzip_into source target)
    # -n: no name or time stamp, so the same input gives the same package.
    execute_process(COMMAND gzip -9nc ${source} OUTPUT_FILE ${target} RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "gzip ${source} failed")
    endif()
    file(CHMOD ${target} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endfunction()

file(GLOB pages ${root}/share/man/man1/*.1)
foreach(page IN LISTS pages)
    gzip_into(${page} ${page}.gz)
    file(REMOVE ${page})
endforeach()

file(MAKE_DIRECTORY ${doc})
file(COPY_FILE ${CPACK_CORVANE_DEB_DIR}/copyright ${doc}/copyright)
file(CHMOD ${doc}/copyright PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# The version has no Debian revision, so this is a native package: its changelog is changelog.gz.
gzip_into(${CPACK_CORVANE_DEB_DIR}/changelog ${doc}/changelog.gz)
