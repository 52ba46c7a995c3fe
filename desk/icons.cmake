# The status icons painted to PNG for the desk's --icons. Included by desk/CMakeLists.txt.
# cairo is imported GLOBAL so that the tests, which read the PNGs back, can link it too.
find_package(PkgConfig REQUIRED)
pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET GLOBAL cairo)
add_library(padwarden_desk_icons STATIC ${CMAKE_CURRENT_LIST_DIR}/icon_png.cpp)
target_link_libraries(padwarden_desk_icons PUBLIC padwarden_app padwarden_platform
                      PRIVATE PkgConfig::CAIRO)
