# Settings every build of the extension shares: the gem's, script/build's and
# the benchmark's baseline build.
require "mkmf"

# Adds the shared compiler and linker flags, writes the Makefile for
# Corvelanth.so from $srcs, and has it read the header dependencies.
def create_corvelanth_makefile
  # No fused multiply-add, no fast-math: routes must match the C++ build bit
  # for bit. Only Init_Corvelanth is exported. -MMD lists each object's headers.
  $CXXFLAGS << " -std=c++17 -ffp-contract=off -fvisibility=hidden -Wall -Wextra -Wshadow -Wno-unused-parameter -MMD -MP"
  $LDFLAGS << " -Wl,--exclude-libs,ALL"

  abort "a C++17 compiler is required" unless have_header("ruby.h")
  create_makefile("Corvelanth")

  # So a header change rebuilds the objects that include it.
  File.open("Makefile", "a") { |f| f.puts "\n-include $(OBJS:.o=.d)" }
end
