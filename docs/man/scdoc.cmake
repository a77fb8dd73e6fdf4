# cmake -DSCDOC=... -DSOURCE=page.scd -DOUTPUT=page -P scdoc.cmake
# scdoc reads standard input and writes standard output; no half-made page is left behind.
get_filename_component(folder ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
execute_process(COMMAND ${SCDOC} INPUT_FILE ${SOURCE} OUTPUT_FILE ${OUTPUT}.part
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    file(REMOVE ${OUTPUT}.part)
    message(FATAL_ERROR "scdoc failed on ${SOURCE}: ${status}")
endif()
file(RENAME ${OUTPUT}.part ${OUTPUT})
