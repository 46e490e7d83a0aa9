# Settings every build of the extension shares: the gem's, script/build's and
# the benchmark's baseline build.
require "mkmf"

CXX17_PROBE = <<~CXX
  #include <optional>
  int main() {
      std::optional<int> value;
      return value.value_or(0);
  }
CXX

# Adds the shared compiler and linker flags, writes the Makefile for
# Corvelanth.so from $srcs (installed as corvelanth/Corvelanth.so), and has
# it read the header dependencies.
def create_corvelanth_makefile
  # No fused multiply-add, no fast-math: routes must match the C++ build bit
  # for bit. Only Init_Corvelanth is exported. -MMD lists each object's headers.
  $CXXFLAGS << " -std=c++17 -ffp-contract=off -fvisibility=hidden -Wall -Wextra -Wshadow -Wno-unused-parameter -MMD -MP"

  cxx = MakeMakefile["C++"]
  unless cxx.checking_for("a C++17 compiler") { cxx.try_compile(CXX17_PROBE, "-std=c++17") }
    abort "Corvelanth needs a C++17 compiler (g++ 7 or clang 5 and later); " \
          "none was found as #{RbConfig::CONFIG["CXX"].inspect}: set CXX or install one"
  end
  # Keeps the C++ runtime's symbols out of the export table, with linkers that know the flag.
  hide_libraries = "-Wl,--exclude-libs,ALL"
  $LDFLAGS << " #{hide_libraries}" if try_ldflags(hide_libraries)

  create_makefile("corvelanth/Corvelanth")

  # So a header change rebuilds the objects that include it.
  File.open("Makefile", "a") { |f| f.puts "\n-include $(OBJS:.o=.d)" }
end
