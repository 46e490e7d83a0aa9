# Builds Corvelanth.so from the binding and every solver source.
require_relative "corvelanth_makefile"

ext_dir = File.expand_path(__dir__)
solver_dir = File.expand_path("../../solver", ext_dir)

$INCFLAGS << " -I#{solver_dir}"
$VPATH << solver_dir
$srcs = (Dir[File.join(ext_dir, "*.cpp")] + Dir[File.join(solver_dir, "*.cpp")]).map { |f| File.basename(f) }.sort

create_corvelanth_makefile
