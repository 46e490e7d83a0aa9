# Route quality through Ruby: the gap of Corvelanth.plan's travel above the
# best-known open-route length, and the time per call, with the improvement
# off, at its default budget and at a thorough budget, optionally beside a
# baseline build of the extension measured in the same run.
#
#   ruby bench/quality.rb LIB_DIR DATA_DIR [BASELINE_EXT_DIR]
#
# DATA_DIR is either the public instances (TSPLIB files with
# open_route_best.txt; node 1 is the robot) or the training instances (JSON
# files with best_known.json). THOROUGH=N sets the thorough budget in kicks
# (improve: :thorough by default), CALLS=N the timed calls per instance and
# setting. The baseline (its extension, and the route.rb and plan.rb beside
# it) is loaded first and renamed, then LIB_DIR's extension defines the class
# afresh, so both run in one process.
require "json"

lib_dir, data_dir, baseline_dir = ARGV
abort "usage: #{$PROGRAM_NAME} LIB_DIR DATA_DIR [BASELINE_EXT_DIR]" unless data_dir && File.directory?(data_dir)
if baseline_dir
  require File.join(File.expand_path(baseline_dir), "Corvelanth.so")
  # plan (which requires its Route) is Ruby code beside the extension.
  plan_rb = File.join(File.expand_path(baseline_dir), "plan.rb")
  require plan_rb if File.exist?(plan_rb)
  Baseline = Corvelanth
  Object.send(:remove_const, :Corvelanth)
end
$LOAD_PATH.unshift(File.expand_path(lib_dir))
require "corvelanth"

THOROUGH = ENV["THOROUGH"] ? Integer(ENV["THOROUGH"]) : :thorough
CALLS = Integer(ENV.fetch("CALLS", "5"))

def now = Process.clock_gettime(Process::CLOCK_MONOTONIC)

# [name, cities, robot, best-known open length] for every instance.
def instances(dir)
  if File.exist?(File.join(dir, "best_known.json"))
    best = JSON.parse(File.read(File.join(dir, "best_known.json")))
    best.keys.sort.map do |name|
      inst = JSON.parse(File.read(File.join(dir, "#{name}.json")))
      [name, inst["cities"], inst["robot"], best[name]["open"]["length"]]
    end
  else
    File.readlines(File.join(dir, "open_route_best.txt")).grep_v(/\A\s*#/).map do |line|
      name, _cities, best = line.split
      robot, *cities = Corvelanth::Waypoints.parse(File.read(File.join(dir, "#{name}.tsp")), "tsplib", name)
      [name, cities, robot, Float(best)]
    end.sort
  end
end

# Gap above the best known (%) and milliseconds per call of one setting.
def measure(solver, cities, robot, best, improve)
  travel = solver.plan(cities, robot, improve: improve).travel
  calls = improve ? CALLS : 50
  start = now
  calls.times { solver.plan(cities, robot, improve: improve) }
  [(travel / best - 1) * 100, (now - start) / calls * 1e3]
end

settings = []
settings << ["baseline default", Baseline, true] if baseline_dir
settings << ["fixed pipeline", Corvelanth, false]
settings << ["default", Corvelanth, true]
settings << [THOROUGH == :thorough ? "thorough" : "thorough (#{THOROUGH} kicks)", Corvelanth, THOROUGH]

rows = instances(data_dir).map do |name, cities, robot, best|
  [name, cities.size, settings.map { |_label, solver, improve| measure(solver, cities, robot, best, improve) }]
end

puts "| instance | cities | " + settings.map { |label, _| "#{label} gap % | ms" }.join(" | ") + " |"
puts "|---|---|" + "---|---|" * settings.size
rows.each do |name, size, results|
  puts "| #{name} | #{size} | " + results.map { |gap, ms| format("%.3f | %.2f", gap, ms) }.join(" | ") + " |"
end
puts
puts "| setting | mean gap % | at 190-200 cities % | worst % | ms per call at 190-200 cities | time ratio to the first |"
puts "|---|---|---|---|---|---|"
first_time = nil
settings.each_with_index do |(label, _solver, _improve), k|
  gaps = rows.map { |r| r[2][k][0] }
  at200 = rows.select { |r| r[1] >= 190 }
  gaps200 = at200.map { |r| r[2][k][0] }
  time200 = at200.empty? ? rows.map { |r| r[2][k][1] }.max : at200.sum { |r| r[2][k][1] } / at200.size
  first_time ||= time200
  puts format("| %s | %.4f | %s | %.4f | %.2f | %.2f |", label, gaps.sum / gaps.size,
              gaps200.empty? ? "-" : format("%.4f", gaps200.sum / gaps200.size), gaps.max, time200, time200 / first_time)
end
