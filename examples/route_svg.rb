#!/usr/bin/env ruby
# frozen_string_literal: true

# Solves an instance and draws the route as an SVG picture.
#
#   ruby examples/route_svg.rb                          # 50 random cities
#   ruby examples/route_svg.rb cities.csv 2,14          # x,y lines and the robot
#   ruby examples/route_svg.rb cities.csv 2,14 -o route.svg
#
# Cities are dots labelled with their index, the robot is a green disc, the route
# is a polyline with an arrow at every leg, and cities the solver left unplaced
# are drawn in red. The run report still goes to standard output.
require "optparse"
require "corvelanth"

options = { out: "route.svg", count: 50, seed: 1 }
OptionParser.new do |o|
  o.banner = "usage: route_svg.rb [CITIES.csv ROBOT_X,ROBOT_Y] [options]"
  o.on("-o", "--out FILE", "SVG file to write (default route.svg)") { |v| options[:out] = v }
  o.on("-n", "--count N", Integer, "random cities when no file is given (default 50)") { |v| options[:count] = v }
  o.on("-s", "--seed N", Integer, "seed of the random instance (default 1)") { |v| options[:seed] = v }
end.parse!

# Reads "x,y" lines; blank lines and lines starting with # are skipped.
def read_cities(path)
  File.readlines(path, chomp: true).each_with_index.filter_map do |line, i|
    next if line.strip.empty? || line.start_with?("#")

    Float(line.split(",", 2)[0].to_s.strip).then { |x| [x, Float(line.split(",", 2)[1].to_s.strip)] }
  rescue ArgumentError
    abort "#{path}:#{i + 1}: expected x,y, got #{line.inspect}"
  end
end

if ARGV.empty?
  rng = Random.new(options[:seed])
  cities = Array.new(options[:count]) { [rng.rand(100.0).round(2), rng.rand(100.0).round(2)] }
  robot = [50.0, 50.0]
elsif ARGV.size == 2
  cities = read_cities(ARGV[0])
  robot = ARGV[1].split(",").map { |v| Float(v) }
  abort "robot must be X,Y" unless robot.size == 2
else
  abort "usage: route_svg.rb [CITIES.csv ROBOT_X,ROBOT_Y] [-o FILE]"
end

# The run report goes to standard output; the picture uses the route's own travel.
route = Corvelanth.plan(cities, robot, report: $stdout)
svg = Corvelanth::SVG.draw(cities, robot, route)
File.write(options[:out], svg)
warn "wrote #{options[:out]}: #{Corvelanth::SVG.caption(route, cities.size)}"
