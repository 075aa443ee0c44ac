# The Win32 runtime's own build steps, included by ui/CMakeLists.txt into lumora_ui.
#
# The pictures (PNG and JPEG) are decoded on the build machine by tools/make_bitmaps, a small
# Qt program built there for the build machine itself, and compiled in as deflated rows: no
# picture decoder runs in the program, only zlib's inflate when a picture is first drawn.
include(ExternalProject)
set(lumora_host_tools ${CMAKE_CURRENT_BINARY_DIR}/win32-host-tools)
set(lumora_make_bitmaps ${lumora_host_tools}/make_bitmaps)
# No toolchain file is passed on: the tool is built with the build machine's own compiler. Its
# build is asked every time (a no-op when nothing changed): otherwise an edited tool would not
# be rebuilt, and the pictures would come from the old one.
ExternalProject_Add(lumora_host_make_bitmaps
    SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/tools
    BINARY_DIR ${lumora_host_tools}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
    INSTALL_COMMAND ""
    BUILD_ALWAYS TRUE
    BUILD_BYPRODUCTS ${lumora_make_bitmaps})

file(GLOB lumora_pictures CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/assets/*.png
     ${PROJECT_SOURCE_DIR}/assets/*.jpg)
set(lumora_bitmap_dir ${CMAKE_CURRENT_BINARY_DIR}/win32-bitmaps)
set(lumora_bitmaps)
foreach(picture ${lumora_pictures})
    get_filename_component(name ${picture} NAME)
    list(APPEND lumora_bitmaps ${lumora_bitmap_dir}/${name}.bitmap)
endforeach()
add_custom_command(
    OUTPUT ${lumora_bitmaps}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${lumora_bitmap_dir}
    COMMAND ${lumora_make_bitmaps} ${lumora_bitmap_dir} ${lumora_pictures}
    DEPENDS ${lumora_pictures} ${lumora_make_bitmaps} lumora_host_make_bitmaps
    COMMENT "Decoding the pictures for the Windows program")
lumora_embed(lumora_embedded_bitmaps NAMESPACE lumora::ui::win32::bitmaps FILES ${lumora_bitmaps})
target_sources(lumora_ui PRIVATE ${lumora_embedded_bitmaps})
# The runtime speaks UTF-16 to the system, whatever the build around it sets.
target_compile_definitions(lumora_ui PRIVATE UNICODE _UNICODE)
target_link_libraries(lumora_ui PUBLIC comctl32 gdi32 user32 PRIVATE ZLIB::ZLIB)
