# The macOS application bundle: Chordwell.app with its Info.plist, icon,
# shortcut catalog and the command-line tool beside the application binary.
#
#   include(${PROJECT_SOURCE_DIR}/cmake/MacBundle.cmake)
#   chordwell_configure_mac_bundle(<app target>)
#
# The Info.plist is written by chordwell_write_mac_info_plist, which the
# tests also use on every platform to check the generated file.
include_guard(GLOBAL)

set(CHORDWELL_MAC_BUNDLE_IDENTIFIER "com.palvane.Chordwell")
set(CHORDWELL_MAC_BUNDLE_NAME "Chordwell")
set(CHORDWELL_MAC_FRAMEWORKS CoreFoundation IOKit CoreGraphics ApplicationServices Carbon AppKit
                             ServiceManagement)

# Writes the bundle's Info.plist for the executable name `executable` to
# `output`. CFBundleVersion is the build number when one is known
# (CHORDWELL_BUILD_NUMBER), otherwise the project version.
function(chordwell_write_mac_info_plist output executable)
    set(CHORDWELL_MAC_EXECUTABLE "${executable}")
    set(CHORDWELL_MAC_SHORT_VERSION "${PROJECT_VERSION}")
    if(DEFINED CHORDWELL_BUILD_NUMBER AND NOT "${CHORDWELL_BUILD_NUMBER}" STREQUAL "")
        set(CHORDWELL_MAC_BUNDLE_VERSION "${CHORDWELL_BUILD_NUMBER}")
    else()
        set(CHORDWELL_MAC_BUNDLE_VERSION "${PROJECT_VERSION}")
    endif()
    configure_file("${PROJECT_SOURCE_DIR}/resources/macos/Info.plist.in" "${output}" @ONLY)
endfunction()

function(chordwell_configure_mac_bundle target)
    if(NOT APPLE)
        return()
    endif()
    set(resources "${PROJECT_SOURCE_DIR}/resources")

    set_target_properties(${target} PROPERTIES
        OUTPUT_NAME "${CHORDWELL_MAC_BUNDLE_NAME}"
        MACOSX_BUNDLE TRUE)
    # CMake configures MACOSX_BUNDLE_INFO_PLIST once more; the written file
    # holds no placeholders left for it to replace.
    set(plist "${CMAKE_CURRENT_BINARY_DIR}/${target}-Info.plist")
    chordwell_write_mac_info_plist("${plist}" "${CHORDWELL_MAC_BUNDLE_NAME}")
    set_target_properties(${target} PROPERTIES MACOSX_BUNDLE_INFO_PLIST "${plist}")

    # Contents/Resources: the icon and the shortcut catalog.
    set(bundle_resources "${resources}/macos/AppIcon.icns")
    if(EXISTS "${resources}/shortcuts.json")
        list(APPEND bundle_resources "${resources}/shortcuts.json")
    else()
        message(WARNING "resources/shortcuts.json is missing; the bundle ships no catalog")
    endif()
    target_sources(${target} PRIVATE ${bundle_resources})
    set_source_files_properties(${bundle_resources} PROPERTIES MACOSX_PACKAGE_LOCATION Resources)

    # Contents/MacOS: chordwellctl beside the application binary.
    if(TARGET chordwellctl)
        add_dependencies(${target} chordwellctl)
        add_custom_command(TARGET ${target} POST_BUILD
            COMMAND ${CMAKE_COMMAND} -E copy_if_different "$<TARGET_FILE:chordwellctl>"
                    "$<TARGET_BUNDLE_CONTENT_DIR:${target}>/MacOS/"
            COMMENT "Copying chordwellctl into the application bundle"
            VERBATIM)
    endif()

    foreach(framework IN LISTS CHORDWELL_MAC_FRAMEWORKS)
        target_link_libraries(${target} PRIVATE "-framework ${framework}")
    endforeach()
    if(TARGET chordwell_macos)
        target_link_libraries(${target} PRIVATE chordwell_macos)
    endif()
endfunction()
