# How the shipped program is linked, kept in one place: kestrave_program_linking(target).
function(kestrave_program_linking target)
  # The static C++ runtime brings its debug sections along; a shipped build has no use for them.
  target_link_options(${target} PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
endfunction()
