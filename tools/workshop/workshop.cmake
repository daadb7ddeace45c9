# The level workshop's page, built beside the game into <build>/site/ under
# Emscripten: levelc's parser and compiler (tools/assetfmt) and the engine,
# linked with the headless backend into workshop-engine.js/.wasm, and the
# page's own files. Included by platform/web/web.cmake.
set(WORKSHOP_DIR ${CMAKE_SOURCE_DIR}/tools/workshop)
set(WORKSHOP_SITE ${CMAKE_BINARY_DIR}/site)
set(WORKSHOP_PAGE_FILES workshop.html workshop.js workshop-worker.js workshop.css levellink.js)

# tinyobjloader is one header; Debian's copy is compiled here for WebAssembly.
find_file(TINYOBJ_HEADER tiny_obj_loader.h PATHS /usr/include NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(TINYOBJ_DIR ${CMAKE_BINARY_DIR}/tinyobj)
configure_file(${TINYOBJ_HEADER} ${TINYOBJ_DIR}/tiny_obj_loader.h COPYONLY)
file(WRITE ${TINYOBJ_DIR}/tinyobj.cpp
     "#define TINYOBJLOADER_IMPLEMENTATION\n#include <tiny_obj_loader.h>\n")
add_library(tinyobj_web STATIC ${TINYOBJ_DIR}/tinyobj.cpp)
target_include_directories(tinyobj_web SYSTEM PUBLIC ${TINYOBJ_DIR})

# Emscripten has no libpng here: bitmapc's PNG decoding goes through Debian's
# stb_image (libstb-dev), compiled here, PNG only.
find_file(STB_IMAGE_HEADER stb/stb_image.h PATHS /usr/include NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(STB_DIR ${CMAKE_BINARY_DIR}/stb)
configure_file(${STB_IMAGE_HEADER} ${STB_DIR}/stb/stb_image.h COPYONLY)
file(WRITE ${STB_DIR}/stb_image.cpp
     "#define STB_IMAGE_IMPLEMENTATION\n#define STBI_ONLY_PNG\n#define STBI_NO_STDIO\n"
     "#include <stb/stb_image.h>\n")
add_library(stb_image_web STATIC ${STB_DIR}/stb_image.cpp)
target_compile_options(stb_image_web PRIVATE -w)
target_include_directories(stb_image_web SYSTEM PUBLIC ${STB_DIR})

set(ASSETFMT_DIR ${CMAKE_SOURCE_DIR}/tools/assetfmt)
add_library(assetfmt_web STATIC ${ASSETFMT_DIR}/level.cpp ${ASSETFMT_DIR}/levelparse.cpp
            ${ASSETFMT_DIR}/toolio.cpp ${ASSETFMT_DIR}/bitmap.cpp)
target_compile_definitions(assetfmt_web PRIVATE POLYDRIVE_PNG_STB)
target_link_libraries(assetfmt_web PUBLIC polycore tinyobj_web stb_image_web)

# The engine's fatal errors are caught as exceptions in workshop.cpp.
add_executable(workshop_web ${WORKSHOP_DIR}/workshop_web.cpp ${WORKSHOP_DIR}/workshop.cpp)
target_compile_options(workshop_web PRIVATE -fexceptions)
target_link_libraries(workshop_web PRIVATE assetfmt_web)
set_target_properties(workshop_web PROPERTIES OUTPUT_NAME workshop-engine SUFFIX .js
                      RUNTIME_OUTPUT_DIRECTORY ${WORKSHOP_SITE}
                      POLYDRIVE_BACKEND platform_headless)
# Memory grows: a source may be as large as levelc reads (16 MiB).
target_link_options(workshop_web PRIVATE
  -fexceptions -sENVIRONMENT=web,worker -sMODULARIZE=1 -sEXPORT_NAME=createWorkshopEngine
  -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=32MB -sMAXIMUM_MEMORY=512MB
  -sEXPORTED_FUNCTIONS=_malloc,_free -sEXPORTED_RUNTIME_METHODS=FS,HEAPU8,UTF8ToString,stringToUTF8,lengthBytesUTF8
  --no-entry
  "SHELL:--embed-file ${CMAKE_SOURCE_DIR}/lib@/lib"
  "SHELL:--embed-file ${CMAKE_SOURCE_DIR}/assets/level1.world@/assets/level1.world"
  "SHELL:--embed-file ${CMAKE_SOURCE_DIR}/assets/car.obj@/assets/car.obj"
  "SHELL:--embed-file ${CMAKE_SOURCE_DIR}/assets/car.mtl@/assets/car.mtl")
set_property(TARGET workshop_web APPEND PROPERTY LINK_DEPENDS ${WEB_LIB_FILES}
             ${CMAKE_SOURCE_DIR}/assets/level1.world)

set(workshop_copies)
foreach(file ${WORKSHOP_PAGE_FILES})
  add_custom_command(OUTPUT ${WORKSHOP_SITE}/${file}
    COMMAND ${CMAKE_COMMAND} -E copy ${WORKSHOP_DIR}/${file} ${WORKSHOP_SITE}/${file}
    DEPENDS ${WORKSHOP_DIR}/${file} VERBATIM)
  list(APPEND workshop_copies ${WORKSHOP_SITE}/${file})
endforeach()
# The game pages load levellink.js for levels brought by a link or a drop.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/broken-site/levellink.js
  COMMAND ${CMAKE_COMMAND} -E copy ${WORKSHOP_DIR}/levellink.js ${CMAKE_BINARY_DIR}/broken-site/levellink.js
  DEPENDS ${WORKSHOP_DIR}/levellink.js VERBATIM)
list(APPEND workshop_copies ${CMAKE_BINARY_DIR}/broken-site/levellink.js)
add_custom_target(workshop_page ALL DEPENDS ${workshop_copies})
