# The folders of src/ and what each stands on. A folder sees its own headers and those of the
# folders it stands on, directly or through another; nothing else. Read by src/CMakeLists.txt
# (include paths) and by tests/check_layering.cmake (the source scan). Folders not written yet
# are listed so their place is decided before their first file.
set(KIP_LAYERS platform frame kernel convolve rank median morphology pelsub)
set(KIP_LAYER_platform "")
set(KIP_LAYER_frame platform)
set(KIP_LAYER_kernel frame)
set(KIP_LAYER_convolve frame)
set(KIP_LAYER_rank kernel)
set(KIP_LAYER_median rank)
set(KIP_LAYER_morphology rank kernel)
set(KIP_LAYER_pelsub median)

# out := the folders `folder` may include from, itself first.
function(kip_layer_closure folder out)
  set(seen ${folder})
  set(todo ${KIP_LAYER_${folder}})
  while(todo)
    list(POP_FRONT todo next)
    if(NOT next IN_LIST seen)
      list(APPEND seen ${next})
      list(APPEND todo ${KIP_LAYER_${next}})
    endif()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()
