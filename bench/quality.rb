# Route quality on the public instances: the gap of Corvelanth.plan's travel
# above the best-known open-route length, and the time per call, with the
# improvement off and at its default budget.
#
#   ruby bench/quality.rb LIB_DIR TSPLIB_DIR
#
# Node 1 of each instance is the robot, the rest are the cities; the best
# known lengths come from TSPLIB_DIR/open_route_best.txt.
lib_dir, tsplib_dir = ARGV
abort "usage: #{$PROGRAM_NAME} LIB_DIR TSPLIB_DIR" unless tsplib_dir && File.directory?(tsplib_dir)
$LOAD_PATH.unshift(File.expand_path(lib_dir))
require "corvelanth"

def now = Process.clock_gettime(Process::CLOCK_MONOTONIC)

best_known = File.readlines(File.join(tsplib_dir, "open_route_best.txt")).grep_v(/\A\s*#/).to_h do |line|
  name, _cities, best = line.split
  [name, Float(best)]
end

rows = best_known.keys.sort.map do |name|
  text = File.read(File.join(tsplib_dir, "#{name}.tsp"))
  robot, *cities = Corvelanth::Waypoints.parse(text, "tsplib", name)
  results = [false, true].map do |improve|
    route = Corvelanth.plan(cities, robot, improve: improve)
    calls = improve ? 5 : 200
    start = now
    calls.times { Corvelanth.plan(cities, robot, improve: improve) }
    [(route.travel / best_known[name] - 1) * 100, (now - start) / calls * 1e3]
  end
  [name, cities.size, *results.flatten]
end

puts "| instance | cities | fixed gap % | fixed ms | improved gap % | improved ms |"
puts "|---|---|---|---|---|---|"
rows.each { |r| puts format("| %s | %d | %.3f | %.3f | %.3f | %.2f |", *r) }
[[2, "fixed"], [4, "improved"]].each do |column, label|
  gaps = rows.map { |r| r[column] }
  times = rows.map { |r| r[column + 1] }
  puts format("%s: mean gap %.3f%%, worst %.3f%%, mean time %.3f ms, at most %.3f ms per call",
              label, gaps.sum / gaps.size, gaps.max, times.sum / times.size, times.max)
end
