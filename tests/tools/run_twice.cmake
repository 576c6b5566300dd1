# Runs make_art twice into fresh folders and fails unless both runs wrote the same
# files. -DTOOL=make_art -DDIR=scratch folder
file(REMOVE_RECURSE ${DIR})
foreach(run IN ITEMS 1 2)
    file(MAKE_DIRECTORY ${DIR}/${run})
    execute_process(COMMAND ${TOOL} ${DIR}/${run}/setup.ico ${DIR}/${run}/header.bmp
                    RESULT_VARIABLE result TIMEOUT 30)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "make_art run ${run} failed: ${result}")
    endif()
endforeach()
foreach(file IN ITEMS setup.ico header.bmp)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${DIR}/1/${file} ${DIR}/2/${file}
                    RESULT_VARIABLE differ)
    if(NOT differ EQUAL 0)
        message(FATAL_ERROR "${file} differs between two runs")
    endif()
endforeach()
