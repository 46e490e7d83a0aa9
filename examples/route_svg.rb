#!/usr/bin/env ruby
# frozen_string_literal: true

# Plans a route and draws it as an SVG picture.
#
#   ruby examples/route_svg.rb                             # 50 random cities
#   ruby examples/route_svg.rb --improve -o route.svg      # the same, improved
#   ruby examples/route_svg.rb waypoints.csv               # the first point is the robot
#   ruby examples/route_svg.rb cities.tsp 2,14 --improve   # the robot at (2, 14)
#
# A waypoint file is CSV (x,y lines), JSON (an array of [x, y]) or TSPLIB,
# as the corvelanth command reads it, and its stops are labelled with the
# command's numbers: by their place in the file from 0, the robot's only when
# it is the file's first point. The run report goes to standard output.
require "optparse"
require "corvelanth"

options = { out: "route.svg", count: 50, seed: 1, improve: false }
OptionParser.new do |o|
  o.banner = "usage: route_svg.rb [WAYPOINTS_FILE [ROBOT_X,ROBOT_Y]] [options]"
  o.on("-o", "--out FILE", "SVG file to write (default route.svg)") { |v| options[:out] = v }
  o.on("--improve [KICKS]", Integer, "shorten the route by local search (optionally a budget in kicks)") do |v|
    options[:improve] = v || true
  end
  o.on("-n", "--count N", Integer, "random cities when no file is given (default 50)") { |v| options[:count] = v }
  o.on("-s", "--seed N", Integer, "seed of the random instance (default 1)") { |v| options[:seed] = v }
end.parse!

# The points of a waypoint file, in any format the command reads.
def read_points(path)
  format = Corvelanth::Waypoints.format_of(path) || "csv"
  Corvelanth::Waypoints.parse(File.read(path), format, path)
rescue Corvelanth::Waypoints::Error, SystemCallError => e
  abort e.message
end

case ARGV.size
when 0
  rng = Random.new(options[:seed])
  cities = Array.new(options[:count]) { [rng.rand(100.0).round(2), rng.rand(100.0).round(2)] }
  robot = [50.0, 50.0]
  labels = (0...cities.size).to_a
when 1
  robot, *cities = read_points(ARGV[0])
  labels = (1..cities.size).to_a << 0
when 2
  cities = read_points(ARGV[0])
  robot = ARGV[1].split(",").map { |v| Float(v) }
  abort "robot must be X,Y" unless robot.size == 2
  labels = (0...cities.size).to_a
else
  abort "usage: route_svg.rb [WAYPOINTS_FILE [ROBOT_X,ROBOT_Y]] [options]"
end

route = Corvelanth.plan(cities, robot, improve: options[:improve], report: $stdout)
File.write(options[:out], Corvelanth::SVG.draw(cities, robot, route, labels: labels, improve: options[:improve]))
warn "wrote #{options[:out]}: #{Corvelanth::SVG.caption(route, cities.size, improve: options[:improve])}"
