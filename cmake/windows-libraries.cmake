# The libraries of the Windows build, linked statically from the prefix that
# scripts/build-windows-libraries.sh fills, under the names the Linux build's
# pkg-config and FindOpenGL give them.
# The default place is named once, in scripts/paths.sh, which the scripts
# that fill it source: "windows_prefix=${VANTROP_WINDOWS_PREFIX:-$HOME/...}".
if(DEFINED ENV{VANTROP_WINDOWS_PREFIX})
  set(default_prefix "$ENV{VANTROP_WINDOWS_PREFIX}")
else()
  file(STRINGS ${PROJECT_SOURCE_DIR}/scripts/paths.sh prefix_line REGEX "^windows_prefix=")
  string(REGEX REPLACE "^windows_prefix=\\$\\{VANTROP_WINDOWS_PREFIX:-\\$HOME(.*)\\}$" "$ENV{HOME}\\1" default_prefix
         "${prefix_line}")
endif()
set(VANTROP_WINDOWS_PREFIX "${default_prefix}" CACHE PATH
    "Where scripts/build-windows-libraries.sh installed the Windows libraries")
if(NOT EXISTS "${VANTROP_WINDOWS_PREFIX}/versions")
  message(FATAL_ERROR "no Windows libraries in ${VANTROP_WINDOWS_PREFIX}: run scripts/build-windows-libraries.sh first")
endif()

set(include ${VANTROP_WINDOWS_PREFIX}/include)
set(lib ${VANTROP_WINDOWS_PREFIX}/lib)
function(vantrop_windows_library target include_dir archive)
  if(NOT EXISTS ${archive})
    message(FATAL_ERROR "${archive} is missing: run scripts/build-windows-libraries.sh again")
  endif()
  add_library(${target} INTERFACE IMPORTED)
  target_include_directories(${target} INTERFACE ${include_dir})
  target_link_libraries(${target} INTERFACE ${archive} ${ARGN})
endfunction()

vantrop_windows_library(PkgConfig::SDL2 ${include}/SDL2 ${lib}/libSDL2.a
  setupapi winmm imm32 version ole32 oleaut32 gdi32 user32 shell32 uuid advapi32)
# Our main() is the program's own entry point; SDL's replacement is not linked.
target_compile_definitions(PkgConfig::SDL2 INTERFACE SDL_MAIN_HANDLED)
vantrop_windows_library(PkgConfig::MPG123 ${include} ${lib}/libmpg123.a shlwapi)
target_compile_definitions(PkgConfig::MPG123 INTERFACE MPG123_STATIC)
vantrop_windows_library(PkgConfig::LIBPNG ${include} ${lib}/libpng16.a z)
add_library(OpenGL::OpenGL INTERFACE IMPORTED)
target_link_libraries(OpenGL::OpenGL INTERFACE opengl32)
add_library(OpenGL::GL INTERFACE IMPORTED)
target_link_libraries(OpenGL::GL INTERFACE opengl32)
set(MP3LAME_LIBRARY ${lib}/libmp3lame.a)
set(MP3LAME_INCLUDE_DIR ${include})

file(STRINGS ${lib}/pkgconfig/libmpg123.pc MPG123_VERSION REGEX "^Version:")
string(REGEX REPLACE "^Version: *" "" MPG123_VERSION "${MPG123_VERSION}")
