# CPack External script: the Windows ZIP from the staged install, byte for byte the same for the
# same commit. CPack's own ZIP writer takes the files in directory order and records the
# builder's user and group, so the ZIP is written here, with zip(1):
#   - every file in one folder named like the ZIP (lcd_driver-<version>-win32/), as Windows
#     downloads come, so unpacking it beside other files mixes nothing;
#   - the files in the order of CPACK_LCD_ZIP_FILES (cmake/release.cmake), no directory
#     entries (-D), not even for x64/;
#   - no Unix extra fields (-X): no owner, no extra time stamps, no access times;
#   - every file's time set to SOURCE_DATE_EPOCH, stored as DOS time in UTC.
# Permissions are the install rules' (0755 for the binaries, 0644 for the rest).
set(files ${CPACK_LCD_ZIP_FILES})
set(folder ${CPACK_PACKAGE_FILE_NAME})

if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is not set (scripts/release.sh sets it)")
endif()
find_program(LCD_ZIP zip)
find_program(LCD_TOUCH touch)
if(NOT LCD_ZIP OR NOT LCD_TOUCH)
  message(FATAL_ERROR "zip(1) and touch(1) are needed for the Windows ZIP (apt-get install zip)")
endif()

file(GLOB_RECURSE staged RELATIVE ${CPACK_TEMPORARY_DIRECTORY} ${CPACK_TEMPORARY_DIRECTORY}/*)
list(SORT staged)
set(expected ${files})
list(SORT expected)
if(NOT staged STREQUAL expected)
  message(FATAL_ERROR "the staged files are not the ZIP's list:\n  staged: ${staged}\n  "
                      "expected: ${expected}")
endif()

# The folder: a copy of the staged files (file(COPY) keeps their permissions).
set(root ${CPACK_TOPLEVEL_DIRECTORY}/zip-root)
file(REMOVE_RECURSE ${root})
set(members "")
foreach(name ${files})
  get_filename_component(subfolder ${name} DIRECTORY) # x64/ for the 64-bit files
  file(COPY ${CPACK_TEMPORARY_DIRECTORY}/${name} DESTINATION ${root}/${folder}/${subfolder})
  list(APPEND members ${folder}/${name})
endforeach()

set(zip_file ${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.zip)
file(REMOVE ${zip_file})
execute_process(COMMAND ${LCD_TOUCH} -h -d @$ENV{SOURCE_DATE_EPOCH} ${members}
                WORKING_DIRECTORY ${root} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${LCD_ZIP} -q -X -D -9 ${zip_file} ${members}
                WORKING_DIRECTORY ${root} COMMAND_ERROR_IS_FATAL ANY)
set(CPACK_EXTERNAL_BUILT_PACKAGES ${zip_file})
