# cmake -DOUTPUT=file.cpp -DSCHEMA_FILES="a.sql|b.sql" -P EmbedSchema.cmake
# Writes the schema files into a C++ source as a table of (file stem, text),
# so that the program carries the same schema that the files hold.
set(body "// Generated from src/database/schema/*.sql by cmake/EmbedSchema.cmake.\n")
string(APPEND body "#include \"database/schema_text.h\"\n\n")
string(APPEND body "const SCHEMA_FILE kSchemaFiles[] = {\n")
set(count 0)
string(REPLACE "|" ";" SCHEMA_FILES "${SCHEMA_FILES}")
foreach(file ${SCHEMA_FILES})
  get_filename_component(stem ${file} NAME_WE)
  file(READ ${file} text)
  string(FIND "${text}" ")QSQL\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${file} holds the literal's delimiter")
  endif()
  string(APPEND body "  {\"${stem}\", R\"QSQL(${text})QSQL\"},\n")
  math(EXPR count "${count} + 1")
endforeach()
string(APPEND body "};\nconst size_t kSchemaFileCount = ${count};\n")
file(WRITE ${OUTPUT}.new "${body}")
# Rewritten only when it changed, so that nothing rebuilds for nothing.
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUTPUT}.new ${OUTPUT})
file(REMOVE ${OUTPUT}.new)
