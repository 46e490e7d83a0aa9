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

SIZE = 640.0
MARGIN = 40.0

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

route = Corvelanth.solve(cities, robot)
points = cities + [robot]
unplaced = (0...cities.size).to_a - route

# Length of the open route, summed in visiting order like the run report.
travel = route.each_cons(2).inject(0.0) do |sum, (a, b)|
  dx = points[a][0] - points[b][0]
  dy = points[a][1] - points[b][1]
  sum + Math.sqrt((dx * dx) + (dy * dy))
end

# Equal-aspect scaling of the bounding box into the drawing area, y upwards.
xs = points.map(&:first)
ys = points.map(&:last)
span = [xs.max - xs.min, ys.max - ys.min, 1e-9].max
scale = (SIZE - (2 * MARGIN)) / span
# Centre the drawing along the shorter side.
left = MARGIN + (((SIZE - (2 * MARGIN)) - ((xs.max - xs.min) * scale)) / 2)
bottom = SIZE - MARGIN - (((SIZE - (2 * MARGIN)) - ((ys.max - ys.min) * scale)) / 2)
screen = points.map do |x, y|
  [format("%.2f", left + ((x - xs.min) * scale)), format("%.2f", bottom - ((y - ys.min) * scale))]
end

svg = []
svg << %(<svg xmlns="http://www.w3.org/2000/svg" width="#{SIZE.to_i}" height="#{SIZE.to_i + 30}" ) +
       %(viewBox="0 0 #{SIZE.to_i} #{SIZE.to_i + 30}" font-family="sans-serif">)
svg << %(<defs><marker id="arrow" viewBox="0 0 10 10" refX="10" refY="5" markerWidth="7" markerHeight="7" ) +
       %(orient="auto-start-reverse"><path d="M0,0 L10,5 L0,10 z" fill="#2563eb"/></marker></defs>)
svg << %(<rect width="100%" height="100%" fill="white"/>)
# One line per leg, so every leg carries its own arrow head.
route.each_cons(2) do |a, b|
  svg << %(<line x1="#{screen[a][0]}" y1="#{screen[a][1]}" x2="#{screen[b][0]}" y2="#{screen[b][1]}" ) +
         %(stroke="#2563eb" stroke-width="1.5" marker-end="url(#arrow)"/>)
end
svg << %(<polyline id="route" points="#{route.map { |n| screen[n].join(',') }.join(' ')}" fill="none" stroke="none"/>)
cities.each_index do |i|
  colour = unplaced.include?(i) ? "#dc2626" : "#111827"
  svg << %(<circle class="#{unplaced.include?(i) ? 'unplaced' : 'city'}" data-node="#{i}" cx="#{screen[i][0]}" ) +
         %(cy="#{screen[i][1]}" r="3.5" fill="#{colour}"/>)
  svg << %(<text x="#{screen[i][0]}" y="#{screen[i][1]}" dx="5" dy="-5" font-size="10" fill="#{colour}">#{i}</text>)
end
rx, ry = screen[cities.size]
svg << %(<circle class="robot" data-node="#{cities.size}" cx="#{rx}" cy="#{ry}" r="7" fill="#16a34a" ) +
       %(stroke="white" stroke-width="2"/>)
svg << %(<text x="#{rx}" y="#{ry}" dx="9" dy="13" font-size="11" fill="#16a34a">robot</text>)
caption = format("travel %.4f, %d cities", travel, cities.size)
caption += ", #{unplaced.size} unplaced (red)" unless unplaced.empty?
svg << %(<text x="#{MARGIN}" y="#{SIZE.to_i + 15}" font-size="14">#{caption}</text>)
svg << "</svg>"

File.write(options[:out], "#{svg.join("\n")}\n")
warn "wrote #{options[:out]}: #{caption}"
