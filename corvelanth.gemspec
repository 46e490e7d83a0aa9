# frozen_string_literal: true

require_relative "lib/corvelanth/version"

Gem::Specification.new do |spec|
  spec.name = "corvelanth"
  spec.version = Corvelanth::VERSION
  spec.authors = ["The Corvelanth developers"]

  spec.summary = "Short routes for a robot through up to 200 cities: open, round trip or to a fixed finish"
  spec.description = <<~TEXT
    Plans the order in which a robot visits up to 200 cities in the plane. The
    route starts at the robot and is open, returns to the robot, or ends at a
    finish you give. Travel is the straight-line distance, or costs of your own
    from a matrix. A fixed heuristic answers in a fraction of a millisecond with
    the same route on every machine; an optional improvement shortens it by
    local search, within a budget or a deadline, and can report the best route
    so far while it runs. Comes with a command that plans a route through a
    CSV, JSON or TSPLIB waypoint file, and an SVG picture of the route.
  TEXT
  spec.license = "MIT"
  # The only interpreter this gem is built and tested with.
  spec.required_ruby_version = ">= 3.1"
  # No homepage, source or changelog address: the project has no public home yet.
  spec.metadata["rubygems_mfa_required"] = "true"

  # Listed from the gemspec's own folder, wherever gem build runs.
  spec.files = Dir.chdir(__dir__) do
    Dir["lib/**/*.rb", "exe/*", "ext/corvelanth/*.{cpp,rb}", "solver/*.{cpp,h}", "examples/*.rb", "sig/*.rbs",
        "docs/*.{md,svg}", ".yardopts", "README.md", "CHANGELOG.md", "LICENSE.txt"]
  end
  spec.require_paths = ["lib"]
  spec.bindir = "exe"
  spec.executables = ["corvelanth"]
  spec.extensions = ["ext/corvelanth/extconf.rb"]
  # ri and generated docs cover the methods the extension defines.
  spec.extra_rdoc_files = ["README.md", "LICENSE.txt", "ext/corvelanth/corvelanth.cpp"]
  spec.rdoc_options = ["--main", "README.md"]
end
