# The programs' version, what `cmake --install` puts where, and the Debian
# package `cpack -G DEB` makes from it. Included from the root CMakeLists.txt
# once every target exists.
#
# Layout below the prefix P (the data lookup in base/datadir relies on the
# first two: the data is ../share/polydrive/lib from the programs' folder):
#   P/bin                          the game and the tools
#   P/games                        a link to the game, where Debian wants games
#   P/share/polydrive/lib          the data the game reads
#   P/share/applications           desktop entry
#   P/share/icons/hicolor/NxN/apps icon: a frame of the game drawn by the recorder
#   P/share/metainfo               AppStream metadata
#   P/share/man/man6, man1         manual pages made from each program's --help
#   P/share/doc/polydrive          copyright (the MIT licence) and changelog

# Who answers for the package, and the AppStream id of the game (reverse-DNS
# of a domain its publisher controls). A packager sets both when configuring:
# -DPOLYDRIVE_MAINTAINER="Name <address>" -DPOLYDRIVE_APPSTREAM_ID=tld.domain.polydrive
set(POLYDRIVE_MAINTAINER "polydrive authors <polydrive@example.org>" CACHE STRING
  "The Debian package's Maintainer field: Name <address>")
set(POLYDRIVE_APPSTREAM_ID "org.polydrive.polydrive" CACHE STRING
  "The AppStream component id (and metainfo file name)")
# The game (only in the window build) and the tools.
set(POLYDRIVE_PROGRAMS)
foreach(program polydrive levelc leveldump bitmapc levelcheck polydrive-record polydrive-soak)
  if(TARGET ${program})
    list(APPEND POLYDRIVE_PROGRAMS ${program})
  endif()
endforeach()

# Every program prints this with --version.
foreach(program ${POLYDRIVE_PROGRAMS})
  target_compile_definitions(${program} PRIVATE POLYDRIVE_VERSION="${PROJECT_VERSION}")
endforeach()
# The build tree's lib/, the last place the data lookup tries (only for
# programs that run from inside this build tree).
set_source_files_properties(${CMAKE_SOURCE_DIR}/base/datadir.cpp TARGET_DIRECTORY polydrive_base
  PROPERTIES COMPILE_DEFINITIONS "POLYDRIVE_BUILD_DIR=\"${CMAKE_BINARY_DIR}\"")

set(PKG_OUT ${CMAKE_BINARY_DIR}/packaging)
set(PKG_SRC ${CMAKE_SOURCE_DIR}/packaging)
set(PKG_FILES)

install(TARGETS ${POLYDRIVE_PROGRAMS} RUNTIME DESTINATION bin)
# A stripped install (cpack, cmake --install --strip) also drops the
# compiler's .comment and .note sections, which nothing at run time reads,
# as Debian's own packaging tools do.
if(CMAKE_STRIP)
  foreach(program ${POLYDRIVE_PROGRAMS})
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/${program}\" COMMAND_ERROR_IS_FATAL ANY)
      endif()")
  endforeach()
endif()
install(DIRECTORY ${CMAKE_SOURCE_DIR}/lib/ DESTINATION share/polydrive/lib)
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION share/doc/polydrive RENAME copyright)

configure_file(${PKG_SRC}/changelog.in ${PKG_OUT}/changelog @ONLY)
add_custom_command(OUTPUT ${PKG_OUT}/changelog.gz
  COMMAND gzip -9nf -k ${PKG_OUT}/changelog
  DEPENDS ${PKG_OUT}/changelog VERBATIM)
list(APPEND PKG_FILES ${PKG_OUT}/changelog.gz)
install(FILES ${PKG_OUT}/changelog.gz DESTINATION share/doc/polydrive)

if(TARGET polydrive)
  # Debian keeps games in games/: a link there to the game in bin/ (the game
  # resolves its own path, so it finds its data from either).
  file(MAKE_DIRECTORY ${PKG_OUT}/games)
  file(CREATE_LINK ../bin/polydrive ${PKG_OUT}/games/polydrive SYMBOLIC)
  install(FILES ${PKG_OUT}/games/polydrive DESTINATION games)
  install(FILES ${PKG_SRC}/polydrive.desktop DESTINATION share/applications)
  configure_file(${PKG_SRC}/polydrive.metainfo.xml.in
    ${PKG_OUT}/${POLYDRIVE_APPSTREAM_ID}.metainfo.xml @ONLY)
  install(FILES ${PKG_OUT}/${POLYDRIVE_APPSTREAM_ID}.metainfo.xml DESTINATION share/metainfo)

  # The icon: the recorder's frame 80 of the README drive (the start gate
  # ahead), shown at its 4:3 shape, the middle square cut out and scaled.
  find_program(CONVERT convert)
  if(CONVERT AND TARGET polydrive-record AND NOT CMAKE_CROSSCOMPILING)
    set(ICON_SIZES 48 64 128 256)
    set(icon_frame ${PKG_OUT}/icon/frame_00080.png)
    add_custom_command(OUTPUT ${icon_frame}
      COMMAND polydrive-record --data ${CMAKE_SOURCE_DIR}/lib
              --keys ${CMAKE_SOURCE_DIR}/assets/screenshots/readme.keys
              --frames 80 --every 80 --out ${PKG_OUT}/icon
      DEPENDS polydrive-record ${CMAKE_SOURCE_DIR}/assets/screenshots/readme.keys
              ${CMAKE_SOURCE_DIR}/lib/level1.3dw
      COMMENT "recording the icon's frame" VERBATIM)
    foreach(size ${ICON_SIZES})
      set(icon ${PKG_OUT}/icons/${size}x${size}/polydrive.png)
      add_custom_command(OUTPUT ${icon}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PKG_OUT}/icons/${size}x${size}
        COMMAND ${CONVERT} ${icon_frame} -filter point -resize 320x240! -gravity center
                -crop 240x240+0+0 +repage -filter Lanczos -resize ${size}x${size}
                -strip -define png:exclude-chunks=date,time ${icon}
        DEPENDS ${icon_frame} VERBATIM)
      list(APPEND PKG_FILES ${icon})
      install(FILES ${icon} DESTINATION share/icons/hicolor/${size}x${size}/apps)
    endforeach()
  else()
    message(WARNING "no ImageMagick convert or no recorder to run: no icon is made or installed")
  endif()
endif()

# Manual pages, made from each program's --help and --version, so they say
# what the program says.
find_program(HELP2MAN help2man)
if(HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
  set(MAN_NAMES
    "polydrive|6|first-person 3D driving game"
    "levelc|1|compile a polydrive world or model source"
    "leveldump|1|print a polydrive world or model file as source text"
    "bitmapc|1|convert a PNG picture into a polydrive bitmap"
    "levelcheck|1|check a polydrive level against the game's limits"
    "polydrive-record|1|play polydrive headless from a key script and write its frames"
    "polydrive-soak|1|play one random polydrive game headless and check its heap")
  foreach(entry ${MAN_NAMES})
    string(REPLACE "|" ";" fields "${entry}")
    list(GET fields 0 program)
    list(GET fields 1 section)
    list(GET fields 2 summary)
    if(NOT TARGET ${program})
      continue()
    endif()
    set(page ${PKG_OUT}/man/${program}.${section})
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PKG_OUT}/man
      COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section=${section} --name=${summary}
              --output=${page} $<TARGET_FILE:${program}>
      COMMAND gzip -9nf ${page}
      DEPENDS ${program} VERBATIM)
    list(APPEND PKG_FILES ${page}.gz)
    install(FILES ${page}.gz DESTINATION share/man/man${section})
  endforeach()
else()
  message(WARNING "help2man not found: no manual pages are made or installed")
endif()

add_custom_target(packaging_files ALL DEPENDS ${PKG_FILES})

# The Debian package: cpack -G DEB in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME polydrive)
set(CPACK_PACKAGE_VENDOR "the polydrive authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${POLYDRIVE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "first-person 3D driving game with a software renderer")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Drive a car with the cursor keys round a small track of flat- and\n"
  "gouraud-shaded polygons and scaled bitmap sprites, drawn by a software\n"
  "renderer in integer fixed-point arithmetic into a 320x200 screen of 256\n"
  "colours. Cars, crates and blocks can be pushed; a game ends after 60\n"
  "seconds.\n"
  "\n"
  "The package also holds the level tools: levelc and leveldump (levels\n"
  "and models to and from text), bitmapc (PNG to bitmap), levelcheck (the\n"
  "game's limits), polydrive-record (frames of a scripted drive) and\n"
  "polydrive-soak (random games with a heap check).")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${POLYDRIVE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)

# The tests of the install and the package.
if(BUILD_TESTING)
  add_subdirectory(${CMAKE_SOURCE_DIR}/tests/install ${CMAKE_BINARY_DIR}/tests/install)
endif()
