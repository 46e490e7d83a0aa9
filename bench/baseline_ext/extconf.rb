# Builds Corvelanth.so from the real binding and the baseline solver, for the
# Ruby-level benchmark only. Compiler flags are those of ext/extconf.rb.
require "mkmf"

root = File.expand_path("../..", __dir__)
dirs = [File.join(root, "ext"), File.join(root, "solver"), File.join(root, "test", "baseline"), __dir__]
dirs.each do |dir|
  $INCFLAGS << " -I#{dir}"
  $VPATH << dir
end
# The tables come from the solver; everything that solves and reports, from the baseline.
$srcs = %w[corvelanth.cpp solver_state.cpp baseline_solver.cpp baseline_entry.cpp]

$CXXFLAGS << " -std=c++17 -ffp-contract=off -fvisibility=hidden -Wall -Wextra -Wshadow -Wno-unused-parameter -MMD -MP"
$LDFLAGS << " -Wl,--exclude-libs,ALL"

abort "a C++17 compiler is required" unless have_header("ruby.h")
create_makefile("Corvelanth")
File.open("Makefile", "a") { |f| f.puts "\n-include $(OBJS:.o=.d)" }
