# The programs' fence: outside list/ and detail/, nothing reaches into their src/ folders, neither by
# path in an #include nor by an include directory or the test-only targets in a CMakeLists.txt. (An
# #include of a src/ header by plain name already fails to compile there: src/ is a private include
# directory.) Run as `cmake -DSOURCE_DIR=... -P check_fence.cmake`; a CTest case runs it.
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "check_fence.cmake: SOURCE_DIR is required")
endif()

file(GLOB tops LIST_DIRECTORIES true RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
set(found "")
foreach(top IN LISTS tops)
  # Not the programs themselves, hidden folders or build trees.
  if(top MATCHES "^(list|detail|\\..*)$" OR NOT IS_DIRECTORY ${SOURCE_DIR}/${top}
     OR EXISTS ${SOURCE_DIR}/${top}/CMakeCache.txt)
    continue()
  endif()
  file(GLOB_RECURSE sources ${SOURCE_DIR}/${top}/*.h ${SOURCE_DIR}/${top}/*.hpp ${SOURCE_DIR}/${top}/*.cpp
    ${SOURCE_DIR}/${top}/*.c ${SOURCE_DIR}/${top}/CMakeLists.txt ${SOURCE_DIR}/${top}/*.cmake)
  foreach(source IN LISTS sources)
    if(source MATCHES "/check_fence\\.cmake$")
      continue()
    endif()
    if(source MATCHES "(CMakeLists\\.txt|\\.cmake)$")
      file(STRINGS ${source} lines REGEX "^[^#]*((list|detail)/src|watch(list|panel)_internals)")
    else()
      file(STRINGS ${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<](\\.\\./)*(list|detail)/src/")
    endif()
    foreach(line IN LISTS lines)
      file(RELATIVE_PATH shown ${SOURCE_DIR} ${source})
      string(STRIP "${line}" line)
      string(APPEND found "  ${shown}: ${line}\n")
    endforeach()
  endforeach()
endforeach()
# The top-level CMakeLists.txt, which the folders above leave out.
file(STRINGS ${SOURCE_DIR}/CMakeLists.txt lines REGEX "^[^#]*((list|detail)/src|watch(list|panel)_internals)")
foreach(line IN LISTS lines)
  string(STRIP "${line}" line)
  string(APPEND found "  CMakeLists.txt: ${line}\n")
endforeach()

if(found)
  message(FATAL_ERROR "These reach into a program's src/; use its include/ (list/include, detail/include) "
    "or move what is needed there:\n${found}")
endif()
message(STATUS "No module outside list/ and detail/ reaches into their src/")
