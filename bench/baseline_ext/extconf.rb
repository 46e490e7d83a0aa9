# Builds Corvelanth.so from the real binding and the straightforward oracle,
# for the Ruby-level benchmark only, with the extension's own build settings.
require_relative "../../ext/corvelanth/corvelanth_makefile"

root = File.expand_path("../..", __dir__)
dirs = [File.join(root, "ext", "corvelanth"), File.join(root, "solver"), File.join(root, "test", "oracle"), __dir__]
dirs.each do |dir|
  $INCFLAGS << " -I#{dir}"
  $VPATH << dir
end
# The binding from ext/; everything that solves and reports the fixed open
# route, from the oracle. Routes with a finish or costs, which the oracle does
# not plan, and the improvement are the solver's own.
$srcs = %w[corvelanth.cpp oracle_solver.cpp baseline_entry.cpp route_improvement.cpp route_planner.cpp
           uncapped_insertion.cpp route_lists.cpp distance_table.cpp crossing_removal.cpp]

create_corvelanth_makefile
