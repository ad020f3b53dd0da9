# Where the UA client tests and benchmarks find the node-opcua test server.
# include() it, then veze6_use_ua_testserver(<target>) gives the target the
# include path of testserver_process.h and these definitions:
#   VEZE6_NODE_EXECUTABLE       node (found at configure time, else "node")
#   VEZE6_UA_TESTSERVER_SCRIPT  testserver.js
#   VEZE6_UA_PEERBENCH_SCRIPT   peerbench.js
# VEZE6_UA_TESTSERVER_FOUND says whether node and the npm packages were there
# at configure time (scripts/bootstrap.sh installs both).
find_program(VEZE6_NODE_EXECUTABLE NAMES node nodejs DOC "Node.js that runs the UA test server")
set(VEZE6_UA_TESTSERVER_DIR "${CMAKE_CURRENT_LIST_DIR}")
set(VEZE6_UA_TESTSERVER_SCRIPT "${VEZE6_UA_TESTSERVER_DIR}/testserver.js")
set(VEZE6_UA_PEERBENCH_SCRIPT "${VEZE6_UA_TESTSERVER_DIR}/peerbench.js")
if(VEZE6_NODE_EXECUTABLE AND EXISTS "${VEZE6_UA_TESTSERVER_DIR}/node_modules/node-opcua")
  set(VEZE6_UA_TESTSERVER_FOUND ON)
else()
  set(VEZE6_UA_TESTSERVER_FOUND OFF)
endif()

function(veze6_use_ua_testserver target)
  set(node "${VEZE6_NODE_EXECUTABLE}")
  if(NOT node)
    set(node "node")
  endif()
  target_include_directories(${target} PRIVATE "${VEZE6_UA_TESTSERVER_DIR}")
  target_compile_definitions(${target} PRIVATE
    VEZE6_NODE_EXECUTABLE="${node}"
    VEZE6_UA_TESTSERVER_SCRIPT="${VEZE6_UA_TESTSERVER_SCRIPT}"
    VEZE6_UA_PEERBENCH_SCRIPT="${VEZE6_UA_PEERBENCH_SCRIPT}")
endfunction()
