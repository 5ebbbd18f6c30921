# The 2D-code font, drawn by tools/make_font.py into RES/ beside the executables.
set(CODIFLUX_FONT_FILE ${CODIFLUX_RES_DIR}/Quadrex.ttf)
add_custom_command(
  OUTPUT ${CODIFLUX_FONT_FILE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CODIFLUX_RES_DIR}
  COMMAND ${CODIFLUX_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/make_font.py --output ${CODIFLUX_FONT_FILE}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/make_font.py
  COMMENT "Drawing the Quadrex 2D-code font"
  VERBATIM)
add_custom_target(codiflux_font ALL DEPENDS ${CODIFLUX_FONT_FILE})
