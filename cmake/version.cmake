# The project version (project() in CMakeLists.txt) is declared nowhere else: the DLL's version
# resource, the tools' --version and the stand-in host's expectation are all generated from it.
set(LCD_VERSION_COMMAS
    "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},${PROJECT_VERSION_TWEAK}")
# The string form Windows tools show: "1, 0, 0, 1".
set(LCD_VERSION_RESOURCE_STRING
    "${PROJECT_VERSION_MAJOR}, ${PROJECT_VERSION_MINOR}, ${PROJECT_VERSION_PATCH}, ${PROJECT_VERSION_TWEAK}")

set(LCD_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/cmake/lcd_version.h.in ${LCD_GENERATED_DIR}/lcd_version.h
               @ONLY)

# Targets that print or check the version link this for the generated header.
add_library(lcd_version INTERFACE)
target_include_directories(lcd_version INTERFACE ${LCD_GENERATED_DIR})
