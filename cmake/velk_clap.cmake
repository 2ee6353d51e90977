# velk_add_clap_module(<target> OUTPUT_NAME <name> SOURCES <files...> LIBS <libs...>
#                      [STATIC_RUNTIME] [BUNDLE_ID <id>] [VERSION <version>])
#
# A CLAP plug-in whose only exported symbol is clap_entry: <name>.clap without a
# lib prefix on Linux, a <name>.clap bundle on macOS. STATIC_RUNTIME links the C++
# runtime and libgcc statically, so hosts built with another toolchain can load
# it; sanitizer builds keep the shared runtime, whose allocation functions the
# sanitizers replace.
set(VELK_CLAP_CMAKE_DIR "${CMAKE_CURRENT_LIST_DIR}/clap")

function(velk_add_clap_module target)
    cmake_parse_arguments(ARG "STATIC_RUNTIME" "OUTPUT_NAME;BUNDLE_ID;VERSION" "SOURCES;LIBS"
        ${ARGN})
    add_library(${target} MODULE ${ARG_SOURCES})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} velk_options)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME "${ARG_OUTPUT_NAME}" PREFIX "")

    if(APPLE)
        set_target_properties(${target} PROPERTIES
            BUNDLE TRUE
            BUNDLE_EXTENSION clap
            MACOSX_BUNDLE_INFO_PLIST "${VELK_CLAP_CMAKE_DIR}/Info.plist.in"
            MACOSX_BUNDLE_GUI_IDENTIFIER "${ARG_BUNDLE_ID}"
            MACOSX_BUNDLE_BUNDLE_NAME "${ARG_OUTPUT_NAME}"
            MACOSX_BUNDLE_BUNDLE_VERSION "${ARG_VERSION}"
            MACOSX_BUNDLE_SHORT_VERSION_STRING "${ARG_VERSION}")
        target_link_options(${target} PRIVATE
            "LINKER:-exported_symbols_list,${VELK_CLAP_CMAKE_DIR}/exports.txt")
    else()
        set_target_properties(${target} PROPERTIES SUFFIX ".clap")
        target_link_options(${target} PRIVATE
            "LINKER:--version-script=${VELK_CLAP_CMAKE_DIR}/exports.map" "LINKER:--as-needed")
        set_property(TARGET ${target} APPEND PROPERTY
            LINK_DEPENDS "${VELK_CLAP_CMAKE_DIR}/exports.map")
        # Sanitized modules leave the runtime's symbols to the host executable.
        if(NOT VELK_SANITIZE)
            target_link_options(${target} PRIVATE "LINKER:--no-undefined")
            if(ARG_STATIC_RUNTIME)
                target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
            endif()
        endif()
    endif()
endfunction()
