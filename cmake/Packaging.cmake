# Installation and packages.
#
# Linux: `cpack` makes a Debian package of the programs, the shortcut
# catalog, the udev rule for /dev/uinput, the desktop entry with its icon and
# AppStream metainfo, and the systemd user unit of the background mode.
# macOS: `cpack` makes Chordwell.dmg from the application bundle.
#
# The programs that are installed are linked separately from the ones the
# tests and `make run` use: only the latter know the source tree's resource
# folder (CHORDWELL_DEVELOPMENT_RESOURCES), so an installed program reads the
# installed resources and nothing else.
include_guard(GLOBAL)
include(GNUInstallDirs)

if(CHORDWELL_PLATFORM_MACOS)
    set(CHORDWELL_PLATFORM_RESOURCES_DIR "${CHORDWELL_RESOURCES_DIR}")
else()
    set(CHORDWELL_PLATFORM_RESOURCES_DIR "${CHORDWELL_RESOURCES_DIR}/linux")
endif()

# The development programs find the catalog in the source tree. (A macOS
# bundle carries its own resources, so nothing is needed there.)
foreach(program chordwell chordwellctl)
    if(CHORDWELL_PLATFORM_LINUX AND TARGET ${program})
        target_compile_definitions(${program} PRIVATE
            CHORDWELL_DEVELOPMENT_RESOURCES="${CHORDWELL_PLATFORM_RESOURCES_DIR}")
    endif()
endforeach()

set(CPACK_PACKAGE_NAME "chordwell")
set(CPACK_PACKAGE_VENDOR "Palvane")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Remap key combinations of one keyboard")
set(CPACK_PACKAGE_CONTACT "Palvane <${CHORDWELL_SUPPORT_EMAIL}>")
set(CPACK_PACKAGE_HOMEPAGE_URL "${CHORDWELL_WEBSITE_URL}")
set(CPACK_STRIP_FILES ON)

if(CHORDWELL_PLATFORM_LINUX AND TARGET chordwell_app AND TARGET chordwell_cli_lib)
    set(CHORDWELL_INSTALLED_BIN_DIR "${CMAKE_BINARY_DIR}/installed-programs")
    add_executable(chordwell_installed ${PROJECT_SOURCE_DIR}/src/app/main.cpp)
    target_link_libraries(chordwell_installed PRIVATE chordwell_app chordwell_warnings)
    add_executable(chordwellctl_installed ${PROJECT_SOURCE_DIR}/src/cli/main.cpp)
    target_link_libraries(chordwellctl_installed PRIVATE chordwell_cli_lib chordwell_warnings)
    set_target_properties(chordwell_installed PROPERTIES OUTPUT_NAME chordwell)
    set_target_properties(chordwellctl_installed PROPERTIES OUTPUT_NAME chordwellctl)
    set_target_properties(chordwell_installed chordwellctl_installed PROPERTIES
        RUNTIME_OUTPUT_DIRECTORY "${CHORDWELL_INSTALLED_BIN_DIR}")
    install(TARGETS chordwell_installed chordwellctl_installed
            RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

    set(linux_resources "${CHORDWELL_RESOURCES_DIR}/linux")
    install(FILES "${linux_resources}/shortcuts.json"
            DESTINATION ${CMAKE_INSTALL_DATADIR}/chordwell)
    install(FILES "${linux_resources}/chordwell.desktop"
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES "${CHORDWELL_RESOURCES_DIR}/icons/chordwell.svg"
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    configure_file("${linux_resources}/com.palvane.Chordwell.metainfo.xml"
                   "${CMAKE_BINARY_DIR}/packaging/com.palvane.Chordwell.metainfo.xml" @ONLY)
    install(FILES "${CMAKE_BINARY_DIR}/packaging/com.palvane.Chordwell.metainfo.xml"
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    install(FILES "${linux_resources}/chordwell@.service"
            DESTINATION lib/systemd/user)
    # Debian 12 keeps udev rules and module lists below /lib (its udev.pc says
    # so); the merged /usr of later releases resolves the same paths.
    install(FILES "${linux_resources}/60-chordwell-uinput.rules" DESTINATION /lib/udev/rules.d)
    install(FILES "${linux_resources}/modules-load.conf" DESTINATION /lib/modules-load.d
            RENAME chordwell.conf)
    install(FILES "${linux_resources}/debian/copyright"
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/chordwell)
    # A native package (no Debian revision): the changelog is changelog.gz.
    configure_file("${linux_resources}/debian/changelog"
                   "${CMAKE_BINARY_DIR}/packaging/changelog" @ONLY)
    add_custom_command(OUTPUT "${CMAKE_BINARY_DIR}/packaging/changelog.gz"
        COMMAND gzip -n -9 -c "${CMAKE_BINARY_DIR}/packaging/changelog"
                > "${CMAKE_BINARY_DIR}/packaging/changelog.gz"
        DEPENDS "${CMAKE_BINARY_DIR}/packaging/changelog" VERBATIM)
    add_custom_target(chordwell_package_changelog ALL
        DEPENDS "${CMAKE_BINARY_DIR}/packaging/changelog.gz")
    install(FILES "${CMAKE_BINARY_DIR}/packaging/changelog.gz"
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/chordwell)

    set(CPACK_GENERATOR "DEB")
    set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
    set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
    # The synopsis is CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the rest.
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
        "Chordwell remaps key combinations of the keyboard you choose to\n"
        "copy, paste, search, a catalog shortcut or a recorded key sequence,\n"
        "from a tray application or in the background (chordwellctl run).\n"
        "Members of the input group may use it; the package's udev rule\n"
        "grants that group /dev/uinput and the keyboards.")
    string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${linux_resources}/debian/postinst"
                                           "${linux_resources}/debian/postrm")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
elseif(CHORDWELL_PLATFORM_MACOS AND TARGET chordwell)
    # The bundle (with chordwellctl inside) is the whole installation; Qt's
    # deployment script (macdeployqt) copies the Qt frameworks and plug-ins
    # into the installed bundle, so that it runs without Homebrew's Qt.
    install(TARGETS chordwell BUNDLE DESTINATION .)
    if(COMMAND qt_generate_deploy_app_script)
        qt_generate_deploy_app_script(TARGET chordwell OUTPUT_SCRIPT chordwell_deploy_script
                                      NO_UNSUPPORTED_PLATFORM_ERROR)
        install(SCRIPT "${chordwell_deploy_script}")
    endif()
    set(CPACK_GENERATOR "DragNDrop")
    set(CPACK_PACKAGE_FILE_NAME "Chordwell")
    set(CPACK_DMG_VOLUME_NAME "Chordwell")
    set(CPACK_DMG_FORMAT "UDZO")
endif()

include(CPack)
