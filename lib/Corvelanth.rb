# frozen_string_literal: true

# Loads the gem: its version; the native extension, which defines the
# Corvelanth class, Corvelanth.solve and the gem's errors; Corvelanth.plan and
# Corvelanth::Route; the route picture, Corvelanth::SVG; and the waypoint
# file reader, Corvelanth::Waypoints.
#
# lib/Corvelanth.rb says the same, for require "Corvelanth": where file names
# ignore case the two are one file, so neither may load the other.
require_relative "corvelanth/version"
require_relative "corvelanth/Corvelanth"
require_relative "corvelanth/plan"
require_relative "corvelanth/svg"
require_relative "corvelanth/waypoints"
