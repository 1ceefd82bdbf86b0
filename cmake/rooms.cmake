# Each folder of the tree is a room, and a target sees the headers of its own
# room and of the rooms it links, not the whole tree: a room that includes a
# header of one it does not link fails to build, so dependencies stay one-way.
# The include path of room R is ${PROJECT_BINARY_DIR}/rooms/R, which holds one
# link, R -> the source folder, so that "R/header.h" reads as everywhere else.
function(vantrop_room target scope room)
  set(root ${PROJECT_BINARY_DIR}/rooms/${room})
  if(NOT EXISTS ${root}/${room})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${room} ${root}/${room} SYMBOLIC)
  endif()
  target_include_directories(${target} ${scope} ${root})
endfunction()
