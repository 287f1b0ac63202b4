# The program: every form unit (the *_s files) on the form layer and the
# filters, with the form descriptions, glyphs, icon and sample picture
# embedded; `quillarc` is the current revision, `quillarc-earlier` the
# earlier one (the Standard form unit built with QUILLARC_EARLIER_REVISION).
file(GLOB PROGRAM_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/app/*_s.cpp ${CMAKE_SOURCE_DIR}/professional/*_s.cpp
  ${CMAKE_SOURCE_DIR}/standard/*_s.cpp ${CMAKE_SOURCE_DIR}/print/*_s.cpp)

function(quillarc_program_library name)
  add_library(${name} STATIC ${PROGRAM_SOURCES})
  target_link_libraries(${name} PUBLIC quillarc_forms quillarc_filters)
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  quillarc_embed_forms(${name} resources/forms)
  quillarc_embed_resources(${name} resources resources/glyphs)
endfunction()

quillarc_program_library(quillarc_program)
quillarc_program_library(quillarc_program_earlier)
target_compile_definitions(quillarc_program_earlier PRIVATE QUILLARC_EARLIER_REVISION)

add_executable(quillarc ${CMAKE_SOURCE_DIR}/app/main.cpp)
target_link_libraries(quillarc PRIVATE quillarc_program)
add_executable(quillarc-earlier ${CMAKE_SOURCE_DIR}/app/main.cpp)
target_link_libraries(quillarc-earlier PRIVATE quillarc_program_earlier)

# quillarc-open: the main window's Open and a batch's memory, timed under
# any Qt platform (bench/).
if(NOT QUILLARC_FUZZ)
  add_executable(quillarc-open ${CMAKE_SOURCE_DIR}/bench/quillarc_open.cpp)
  target_link_libraries(quillarc-open PRIVATE quillarc_program quillarc_bench_support)
endif()
