# What a release ships, as install rules, and the packages CPack makes of them:
#   win32:  lcd_driver-<version>-win32.zip  (the DLLs, lcdsim.exe, lcdtest.exe, README.txt,
#           LICENSE.txt, SHA256SUMS; nothing else, in one folder lcd_driver-<version>-win32/, so
#           unpacking it anywhere gives a folder of exactly these; with LCD_X64_DIR, also x64/
#           with that 64-bit tree's lcd_driver.dll, lcd_preview.dll, lcdsim.exe and lcdtest.exe)
#   Linux:  lcd-driver-tools_<version>_amd64.deb and `cmake --install`: lcdsim, lcdtest,
#           liblcd_driver.so, their man pages, the sigrok decoder and the licence.
# scripts/release.sh makes both. File times in the packages come from SOURCE_DATE_EPOCH,
# which CPack reads from the environment.
option(LCD_RELEASE "A release build: missing packaging tools are an error" OFF)
set(LCD_X64_DIR "" CACHE PATH
    "A built win64 tree whose driver, preview driver and tools the ZIP carries in x64/ (release-win64)")

set(CPACK_PACKAGE_NAME lcd_driver)
set(CPACK_PACKAGE_VENDOR "the lcd_driver authors")
set(CPACK_PACKAGE_CONTACT "the lcd_driver authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Display driver for a 640x480 LCD controller on a serial line")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# Packages land in the build tree unless the package preset names another place.
if(NOT CPACK_OUTPUT_FILE_PREFIX)
  set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/packages)
endif()

# Text files for Windows users: CRLF line ends, so every editor shows them as written.
function(lcd_windows_text source destination)
  file(READ ${source} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  string(CONFIGURE "${text}" text @ONLY)
  file(WRITE ${destination} "${text}")
endfunction()

if(WIN32)
  set(release_dir ${PROJECT_BINARY_DIR}/release-files)
  lcd_windows_text(${PROJECT_SOURCE_DIR}/cmake/release/README-windows.txt.in
                   ${release_dir}/README.txt)
  lcd_windows_text(${PROJECT_SOURCE_DIR}/LICENSE ${release_dir}/LICENSE.txt)

  # The ZIP's files, in the order it holds them: the one list the install rules, SHA256SUMS,
  # the ZIP writer (make_zip.cmake) and the release check (scripts/release.sh) all read.
  set(CPACK_LCD_ZIP_FILES lcd_driver.dll lcd_preview.dll lcdsim.exe lcdtest.exe)
  install(PROGRAMS $<TARGET_FILE:lcd_driver> $<TARGET_FILE:lcd_preview> DESTINATION .)
  foreach(tool lcdsim lcdtest)
    if(TARGET ${tool})
      install(PROGRAMS $<TARGET_FILE:${tool}> DESTINATION .)
    endif()
  endforeach()
  # For 64-bit hosts, in x64/: the win64 tree's driver, its preview with the viewer it starts
  # from its own folder, and the panel check.
  if(LCD_X64_DIR)
    set(x64_names lcd_driver.dll lcd_preview.dll lcdsim.exe lcdtest.exe)
    list(TRANSFORM x64_names PREPEND ${LCD_X64_DIR}/ OUTPUT_VARIABLE x64_files)
    foreach(file ${x64_files})
      if(NOT EXISTS ${file})
        message(FATAL_ERROR "${file} is not built: the ZIP's x64 folder needs it "
                            "(cmake --preset release-win64 && cmake --build --preset release-win64)")
      endif()
    endforeach()
    install(PROGRAMS ${x64_files} DESTINATION x64)
    list(TRANSFORM x64_names PREPEND x64/)
    list(APPEND CPACK_LCD_ZIP_FILES ${x64_names})
  endif()
  list(APPEND CPACK_LCD_ZIP_FILES README.txt LICENSE.txt)
  install(FILES ${release_dir}/README.txt ${release_dir}/LICENSE.txt DESTINATION .)
  # SHA256SUMS over what was installed just now, in the format `sha256sum -c` reads.
  install(CODE "set(lcd_zip_files ${CPACK_LCD_ZIP_FILES})")
  install(CODE [[
    set(dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    set(sums "")
    foreach(name ${lcd_zip_files})
      if(EXISTS "${dir}/${name}")
        file(SHA256 "${dir}/${name}" hash)
        string(APPEND sums "${hash}  ${name}\n")
      endif()
    endforeach()
    file(WRITE "${dir}/SHA256SUMS" "${sums}")
  ]])
  list(APPEND CPACK_LCD_ZIP_FILES SHA256SUMS)

  # CPack stages the install; cmake/release/make_zip.cmake writes the ZIP from it.
  set(CPACK_GENERATOR External)
  set(CPACK_EXTERNAL_REQUESTED_VERSIONS 1.0)
  set(CPACK_EXTERNAL_ENABLE_STAGING ON)
  set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/release/make_zip.cmake)
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win32)
  # Release links strip the binaries already (cmake/reproducible.cmake).
  set(CPACK_STRIP_FILES OFF)
else()
  # With the prefix /usr (release-native), GNUInstallDirs picks Debian's multiarch library
  # directory, lib/x86_64-linux-gnu.
  set(CMAKE_INSTALL_DOCDIR share/doc/lcd-driver-tools)
  include(GNUInstallDirs)
  set(CMAKE_SKIP_INSTALL_RPATH ON)

  install(TARGETS lcd_driver LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  foreach(tool lcdsim lcdtest)
    if(TARGET ${tool})
      install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR}
          RENAME copyright)
  # The sigrok decoder, in the folder named by its id where libsigrokdecode looks for
  # decoders: sigrok-cli and PulseView list it with no set-up.
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/decoder/sigrok/lcdctl
          DESTINATION ${CMAKE_INSTALL_DATADIR}/libsigrokdecode/decoders
          FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
  if(TARGET lcdtest)
    # Where an installed lcdtest finds the driver: the library directory, relative to its own.
    file(RELATIVE_PATH driver_dir ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
    target_compile_definitions(lcdtest PRIVATE LCD_INSTALLED_DRIVER_DIR="${driver_dir}/")
  endif()

  # A release's lcdsim has its live window: the package must not depend on what happened to
  # be installed on the machine that built it.
  if(LCD_RELEASE AND TARGET lcdsim)
    get_target_property(lcdsim_libraries lcdsim LINK_LIBRARIES)
    if(NOT "SDL2::SDL2" IN_LIST lcdsim_libraries)
      message(FATAL_ERROR "SDL2 not found: the release's lcdsim needs it for --window "
                          "(apt-get install libsdl2-dev)")
    endif()
  endif()

  # Man pages from the tools' own --help and --version, so they cannot drift from them, with
  # a synopsis, examples and cross-references from cmake/release/TOOL.h2m. help2man runs the
  # tool through cmake/release/help2man-tool.sh, copied beside it, which leaves the usage
  # lines out of the help (the include file's SYNOPSIS has them).
  find_program(LCD_HELP2MAN help2man)
  if(TARGET lcdsim AND TARGET lcdtest AND LCD_HELP2MAN)
    set(lcdsim_summary "the display controller, simulated")
    set(lcdtest_summary "check a panel through the display driver")
    set(pages "")
    foreach(tool lcdsim lcdtest)
      set(page ${PROJECT_BINARY_DIR}/man/${tool}.1)
      set(include ${PROJECT_SOURCE_DIR}/cmake/release/${tool}.h2m)
      set(wrapper ${PROJECT_SOURCE_DIR}/cmake/release/help2man-tool.sh)
      add_custom_command(
        OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
        COMMAND ${CMAKE_COMMAND} -E copy ${wrapper} $<TARGET_FILE_NAME:${tool}>.help2man
        COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${LCD_SOURCE_DATE_EPOCH}
                ${LCD_HELP2MAN} --no-info --name=${${tool}_summary} --include=${include}
                --output=${page} ./$<TARGET_FILE_NAME:${tool}>.help2man
        # -n: no name or time stamp in the compressed page.
        COMMAND gzip -9 -n -f ${page}
        DEPENDS ${tool} ${include} ${wrapper}
        # help2man runs the program through the shell: from its own directory, a build path
        # with spaces in it does not matter.
        WORKING_DIRECTORY $<TARGET_FILE_DIR:${tool}>
        COMMENT "Man page for ${tool}"
        VERBATIM)
      list(APPEND pages ${page}.gz)
    endforeach()
    add_custom_target(lcd_man_pages ALL DEPENDS ${pages})
    install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  elseif(LCD_RELEASE)
    message(FATAL_ERROR "help2man not found: the release's man pages need it (apt-get install help2man)")
  endif()

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
  set(CPACK_DEBIAN_PACKAGE_NAME lcd-driver-tools)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
      "simulator and panel check for a 640x480 LCD controller on a serial line")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "lcdsim is the display controller, simulated: it decodes the driver's byte stream from a
capture, a serial device or a pseudo-terminal onto a 640x480 panel and writes it as PNG.
lcdtest checks a panel through the display driver (liblcd_driver.so, included): it sets up
the serial port and sends a test pattern or a picture. A sigrok protocol decoder (lcdctl)
shows the stream in sigrok-cli and PulseView; lcdsim --vcd writes a capture of it.")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "sigrok-cli | pulseview")
  # Runtime dependencies from the binaries' own library needs (dpkg-shlibdeps).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
