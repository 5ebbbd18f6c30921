# The README's screenshots: `cmake --build build --target screenshots`.
add_executable(make_screenshots EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/make_screenshots.cpp)
target_link_libraries(make_screenshots PRIVATE codiflux_app)
add_custom_target(screenshots
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:make_screenshots>
          ${CMAKE_SOURCE_DIR}/examples ${CMAKE_SOURCE_DIR}/docs
  DEPENDS make_screenshots codiflux_res
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
  VERBATIM)
