# The window's icons are drawn by tools/make_icons.cpp. The PNG files it makes
# are kept in app/icons/ (the resource file embeds them from there); build the
# target codiflux_icons to draw them again after changing the tool.
add_executable(codiflux_make_icons ${CMAKE_CURRENT_LIST_DIR}/make_icons.cpp)
target_link_libraries(codiflux_make_icons PRIVATE Qt6::Gui)
add_custom_target(codiflux_icons
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
          $<TARGET_FILE:codiflux_make_icons> ${CMAKE_SOURCE_DIR}/app/icons
  DEPENDS codiflux_make_icons
  COMMENT "Drawing the window's icons into app/icons"
  VERBATIM)
