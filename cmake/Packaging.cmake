# The Debian package (cpack -G DEB; scripts/package.sh): the program, the
# camera simulator and the command-line tools in /usr/bin with their manual
# pages, the program's own shared libraries in a private folder that the run
# path finds, a desktop entry, AppStream data, icons, and the copyright file
# and changelog Debian asks for. The dependencies come from dpkg-shlibdeps,
# out of what the binaries link. tests/package/test_package.sh runs lintian,
# desktop-file-validate and appstreamcli on the result.

set(ARDENIX_PACKAGE_PREFIX /usr)
# Under the multiarch folder: CPack adds ldconfig calls to the maintainer
# scripts for any library whose folder or its parent is /usr/lib, and a
# private folder is no business of ldconfig.
if(CMAKE_LIBRARY_ARCHITECTURE)
    set(ARDENIX_PRIVATE_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/ardenix)
else()
    set(ARDENIX_PRIVATE_LIBDIR lib/ardenix)
endif()
# Where the project's pages are published; the AppStream data points there
# for the home page and the README's screenshots.
set(ARDENIX_HOMEPAGE "https://ardenix.invalid" CACHE STRING "Home page named in the package's AppStream data")

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
# This stand-in calls nothing yet, so the linker records no library at all;
# Debian wants every shared library to name what it was linked with.
if(TARGET KvDevice AND NOT WIN32)
    target_link_libraries(KvDevice PRIVATE "-Wl,--push-state,--no-as-needed,-lc,--pop-state")
endif()

# Manual pages made from each program's --help and --version, and the
# Debian changelog, compressed as Debian keeps them (no time stamp in gzip).
find_program(HELP2MAN help2man)
find_program(GZIP gzip)
set(doc_dir ${CMAKE_BINARY_DIR}/package-docs)
set(ARDENIX_MANUAL_NAMES
    "ardenix=fever screening client for a network thermal camera"
    "ardenix-report=write the screening statistics as CSV"
    "camsim=simulated thermal network cameras on loopback addresses"
    "camctl=search, log in to and configure a thermal camera"
    "fixlink-cli=connect to a camera's alarm service and print its events"
    "tagwright-cli=edit the label printer template and print device labels")
set(package_docs)
# (Not in sanitizer builds, which package nothing.)
if(HELP2MAN AND GZIP AND NOT CMAKE_CROSSCOMPILING AND NOT ARDENIX_SANITIZE)
    foreach(entry IN LISTS ARDENIX_MANUAL_NAMES)
        string(REGEX REPLACE "=.*" "" program "${entry}")
        string(REGEX REPLACE "^[^=]*=" "" summary "${entry}")
        if(TARGET ${program})
            set(page ${doc_dir}/${program}.1)
            add_custom_command(
                OUTPUT ${page}.gz
                COMMAND ${CMAKE_COMMAND} -E make_directory ${doc_dir}
                COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${HELP2MAN} --no-info --section 1
                        --name ${summary} --output ${page} $<TARGET_FILE:${program}>
                COMMAND ${GZIP} -9nf ${page}
                DEPENDS ${program}
                COMMENT "Writing the manual page of ${program}"
                VERBATIM)
            list(APPEND package_docs ${page}.gz)
            install(FILES ${page}.gz DESTINATION share/man/man1)
        endif()
    endforeach()
else()
    message(STATUS "No manual pages for the package (help2man or gzip missing, cross or sanitizer build)")
endif()
if(GZIP)
    add_custom_command(
        OUTPUT ${doc_dir}/changelog.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${doc_dir}
        COMMAND ${GZIP} -9nc ${CMAKE_SOURCE_DIR}/cmake/debian/changelog > ${doc_dir}/changelog.gz
        DEPENDS ${CMAKE_SOURCE_DIR}/cmake/debian/changelog
        COMMENT "Compressing the Debian changelog")
    list(APPEND package_docs ${doc_dir}/changelog.gz)
    install(FILES ${doc_dir}/changelog.gz DESTINATION share/doc/ardenix)
endif()
add_custom_target(ardenix_package_docs ALL DEPENDS ${package_docs})
install(FILES cmake/debian/copyright DESTINATION share/doc/ardenix)

configure_file(resources/ardenix.metainfo.xml.in ${doc_dir}/invalid.ardenix.Ardenix.metainfo.xml @ONLY)
install(FILES ${doc_dir}/invalid.ardenix.Ardenix.metainfo.xml DESTINATION share/metainfo)

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
# Lines of at most 80 characters, as Debian's tools show them.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Shows the visible video and the temperature picture of a network thermal\n"
    "camera side by side, keeps a picture of every measured person, sounds an\n"
    "alarm for abnormal temperatures and counts normal and abnormal people per\n"
    "day. Includes the camera simulator camsim, camctl, fixlink-cli,\n"
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
