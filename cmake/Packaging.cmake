# The Debian package (cpack -G DEB; scripts/package.sh): the program, the
# camera simulator and the command-line tools in /usr/bin, the program's own
# shared libraries in a private folder that the run path finds, a desktop
# entry and icons. The dependencies come from dpkg-shlibdeps, out of what the
# binaries link.

set(ARDENIX_PACKAGE_PREFIX /usr)
set(ARDENIX_PRIVATE_LIBDIR lib/ardenix)

set(ARDENIX_PACKAGED_PROGRAMS ardenix ardenix-report camsim camctl fixlink-cli tagwright-cli)
set(ARDENIX_PACKAGED_LIBRARIES
    Fixlink Tagwright
    KV_DeviceLogin KV_DevicePreview KV_DeviceNVConfig KvDevice CamSearch
    ACodec mi_decoder TSCLIB CDFPSK
    ardenix_media ardenix_device)

# The build tree keeps its own run path (build/lib); installed files get one
# relative to where they lie, so an unpacked tree works wherever it is.
foreach(program IN LISTS ARDENIX_PACKAGED_PROGRAMS)
    if(TARGET ${program})
        set_target_properties(${program} PROPERTIES INSTALL_RPATH "\$ORIGIN/../${ARDENIX_PRIVATE_LIBDIR}")
        # Each answers --version with it.
        target_compile_definitions(${program} PRIVATE ARDENIX_VERSION_TEXT="${PROJECT_VERSION}")
        install(TARGETS ${program} RUNTIME DESTINATION bin)
    endif()
endforeach()
foreach(library IN LISTS ARDENIX_PACKAGED_LIBRARIES)
    if(TARGET ${library})
        set_target_properties(${library} PROPERTIES INSTALL_RPATH "\$ORIGIN")
        install(TARGETS ${library} LIBRARY DESTINATION ${ARDENIX_PRIVATE_LIBDIR} NAMELINK_SKIP)
    endif()
endforeach()

# The packaged program keeps its settings and pictures in the user's data
# folder even when an administrator, who may write /usr/bin, runs it.
if(TARGET ardenix_store)
    target_compile_definitions(ardenix_store PRIVATE ARDENIX_PACKAGE_BINDIR="${ARDENIX_PACKAGE_PREFIX}/bin")
endif()

# scripts/package.sh builds the packaged targets itself; installing need not
# build every test and benchmark first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ardenix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ardenix")
set(CPACK_PACKAGE_CONTACT "ardenix maintainers <maintainers@ardenix.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Fever screening client for a network thermal camera")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Shows the visible video and the temperature picture of a network thermal camera side by side, "
    "keeps a picture of every measured person, sounds an alarm for abnormal temperatures and counts "
    "normal and abnormal people per day. Includes the camera simulator camsim, camctl, fixlink-cli, "
    "tagwright-cli and ardenix-report (CSV export of the statistics).")
set(CPACK_PACKAGING_INSTALL_PREFIX ${ARDENIX_PACKAGE_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    "${CMAKE_BINARY_DIR}/_CPack_Packages/Linux/DEB/${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-Linux${ARDENIX_PACKAGE_PREFIX}/${ARDENIX_PRIVATE_LIBDIR}")
# Plug-ins are loaded at run time, so no linking shows them: the statistics
# need Qt's SQLite driver, the alarm sound Qt's audio plug-ins.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt5sql5-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt5multimedia5-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
