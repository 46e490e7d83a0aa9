# Builds Corvelanth.so from the binding and every solver source.
require "mkmf"

ext_dir = File.expand_path(__dir__)
solver_dir = File.expand_path("../solver", ext_dir)

$INCFLAGS << " -I#{solver_dir}"
$VPATH << solver_dir
$srcs = (Dir[File.join(ext_dir, "*.cpp")] + Dir[File.join(solver_dir, "*.cpp")]).map { |f| File.basename(f) }.sort

# No fused multiply-add, no fast-math: routes must match the C++ build bit for bit.
$CXXFLAGS << " -std=c++17 -ffp-contract=off -fvisibility=hidden -Wall -Wextra -Wshadow -Wno-unused-parameter -MMD -MP"
$LDFLAGS << " -Wl,--exclude-libs,ALL"

abort "a C++17 compiler is required" unless have_header("ruby.h")
create_makefile("Corvelanth")

# Header dependencies written by -MMD, so a header change rebuilds its users.
File.open("Makefile", "a") { |f| f.puts "\n-include $(OBJS:.o=.d)" }
