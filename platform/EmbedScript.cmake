# Writes OUTPUT, a C++ source defining plat::web::<NAME>Script[] as the text of INPUT, so the
# page engine's scripts can be kept, read and checked as plain .js files.
file(READ ${INPUT} text)
file(RELATIVE_PATH source ${CMAKE_CURRENT_LIST_DIR} ${INPUT})
file(WRITE ${OUTPUT}.new
  "// Generated from ${source} by EmbedScript.cmake; edit that file.\n"
  "namespace plat::web {\n"
  "extern const char ${NAME}Script[];\n"
  "const char ${NAME}Script[] = R\"HARBORJS(${text})HARBORJS\";\n"
  "}  // namespace plat::web\n")
file(RENAME ${OUTPUT}.new ${OUTPUT})
