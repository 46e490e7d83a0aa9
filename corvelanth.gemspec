# frozen_string_literal: true

require_relative "lib/corvelanth/version"

Gem::Specification.new do |spec|
  spec.name = "corvelanth"
  spec.version = Corvelanth::VERSION
  spec.summary = "Plans a short open route for a robot through up to 200 cities"
  spec.description = <<~TEXT
    A native extension that plans a short open route for a robot through up to
    200 cities in the plane: nearest-city seed, cheapest insertion, a geometric
    crossing sweep and a reinsertion pass, with identical results on every run.
  TEXT
  spec.authors = ["The Corvelanth developers"]
  spec.license = "MIT"
  # The only interpreter this gem is built and tested with.
  spec.required_ruby_version = ">= 3.1"

  # Listed from the gemspec's own folder, wherever gem build runs.
  spec.files = Dir.chdir(__dir__) do
    Dir["lib/**/*.rb", "exe/*", "ext/corvelanth/*.{cpp,rb}", "solver/*.{cpp,h}", "examples/*.rb", "sig/*.rbs",
        "README.md", "CHANGELOG.md", "LICENSE.txt"]
  end
  spec.require_paths = ["lib"]
  spec.bindir = "exe"
  spec.executables = ["corvelanth"]
  spec.extensions = ["ext/corvelanth/extconf.rb"]
  # ri and generated docs cover the methods the extension defines.
  spec.extra_rdoc_files = ["README.md", "LICENSE.txt", "ext/corvelanth/corvelanth.cpp"]
  spec.rdoc_options = ["--main", "README.md"]
end
