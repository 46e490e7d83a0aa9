# frozen_string_literal: true

Gem::Specification.new do |spec|
  spec.name = "corvelanth"
  spec.version = "0.1.0"
  spec.summary = "Plans a short open route for a robot through up to 200 cities"
  spec.description = <<~TEXT
    A native extension that plans a short open route for a robot through up to
    200 cities in the plane: nearest-city seed, cheapest insertion, a geometric
    crossing sweep and a reinsertion pass, with identical results on every run.
  TEXT
  spec.authors = ["The Corvelanth developers"]
  spec.required_ruby_version = ">= 2.7"

  spec.files = Dir[
    "lib/**/*.rb", "ext/*.cpp", "ext/*.rb", "solver/*.cpp", "solver/*.h",
    "sig/*.rbs", "README.md", "CHANGELOG.md"
  ]
  spec.require_paths = ["lib"]
  spec.extensions = ["ext/extconf.rb"]
end
