# The web build, included by the top-level CMakeLists.txt under Emscripten:
# the engine library as the native game has it, the browser backend
# (platform_web, named as the program's POLYDRIVE_BACKEND) and the web entry,
# linked into <build>/site/ with the page and the files of lib/.
# <build>/broken-site/ is the same page with a truncated level file, for the
# browser test of a fatal error.
set(WEB_DIR ${CMAKE_SOURCE_DIR}/platform/web)

# 128-bit WebAssembly SIMD, which the browsers the page is for all run: the
# flip's vector kernel, the loops the compiler vectorises, and with -msse2 the
# renderer's SSE2 paths (sprite rows, gouraud spans), whose intrinsics
# Emscripten maps onto the same instructions. Integer lanes give the results
# of the scalar code, so the frames do not change.
target_compile_options(polydrive_flags INTERFACE -msimd128 -msse2 -mbulk-memory)
target_link_options(polydrive_flags INTERFACE -msimd128 -mbulk-memory)

# Link-time optimisation: the frame's calls between modules (the fillers'
# per-span and per-face calls, the transforms, the flip behind gfx_flip) are
# inlined and specialised across files, which a browser's compiler does not
# do for us. Asyncify runs on the linked module afterwards and still finds
# only the present and the game's entry on the suspending path.
target_compile_options(polydrive_flags INTERFACE -flto)
target_link_options(polydrive_flags INTERFACE -flto)
set(WEB_PAGE_FILES index.html page.js page.css keyscript.js)

# Asyncify lets the frame loop suspend in plat_present; only direct calls can
# reach that suspension (the engine's function pointers never do), which keeps
# the instrumented code small. Memory is fixed, so the canvas can keep one view
# of the picture in it; 48 MB holds the raised limits' 16 MiB pool and draw
# list beside the biggest frame.
#
# The optimiser inlines every function with one caller into it before
# Asyncify runs, which would make the whole frame (update, render, flip) one
# function on the suspending path, instrumented throughout. Inlining a
# single caller is limited to small functions, so the instrumentation stays on
# the few that need it: the game's entry and loop, gfx_init's palette load
# and the present that suspends (-sASYNCIFY_ADVISE lists them).
set(WEB_LINK_OPTIONS
  -sASYNCIFY -sASYNCIFY_IGNORE_INDIRECT=1
  -sBINARYEN_EXTRA_PASSES=--one-caller-inline-max-function-size=100
  -sENVIRONMENT=web -sINITIAL_MEMORY=48MB -sALLOW_MEMORY_GROWTH=0
  -sEXPORTED_RUNTIME_METHODS=ccall --no-entry)

add_library(platform_web STATIC ${WEB_DIR}/web.cpp)
target_link_libraries(platform_web PUBLIC polydrive_base)

# One page: NAME is the folder under the build, LIB the data folder packed as
# /lib (the game reads lib/ below its working directory, / in the browser).
function(web_page target name lib)
  set(out ${CMAKE_BINARY_DIR}/${name})
  add_executable(${target} ${CMAKE_SOURCE_DIR}/frame/main_web.cpp)
  target_link_libraries(${target} PRIVATE polycore)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME polydrive SUFFIX .js
                        RUNTIME_OUTPUT_DIRECTORY ${out} POLYDRIVE_BACKEND platform_web)
  target_link_options(${target} PRIVATE ${WEB_LINK_OPTIONS} --embed-file ${lib}@/lib)
  set(copies)
  foreach(file ${WEB_PAGE_FILES})
    add_custom_command(OUTPUT ${out}/${file}
      COMMAND ${CMAKE_COMMAND} -E copy ${WEB_DIR}/${file} ${out}/${file}
      DEPENDS ${WEB_DIR}/${file} VERBATIM)
    list(APPEND copies ${out}/${file})
  endforeach()
  add_custom_target(${target}_page ALL DEPENDS ${copies})
endfunction()

file(GLOB WEB_LIB_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/lib/*)
web_page(polydrive_web site ${CMAKE_SOURCE_DIR}/lib)
set_property(TARGET polydrive_web APPEND PROPERTY LINK_DEPENDS ${WEB_LIB_FILES})

# lib/ with level1.3dw cut short after 100 bytes.
set(BROKEN_LIB ${CMAKE_BINARY_DIR}/broken-lib)
add_custom_command(OUTPUT ${BROKEN_LIB}/level1.3dw
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/lib ${BROKEN_LIB}
  COMMAND sh -c "head -c 100 '${CMAKE_SOURCE_DIR}/lib/level1.3dw' >'${BROKEN_LIB}/level1.3dw'"
  DEPENDS ${WEB_LIB_FILES} VERBATIM)
add_custom_target(broken_lib DEPENDS ${BROKEN_LIB}/level1.3dw)
web_page(polydrive_web_broken broken-site ${BROKEN_LIB})
add_dependencies(polydrive_web_broken broken_lib)

# The level workshop, beside the game in site/.
include(${CMAKE_SOURCE_DIR}/tools/workshop/workshop.cmake)
