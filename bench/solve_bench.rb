# Times Corvelanth.solve through Ruby for the baseline build and the real
# extension side by side, alternating, with the run report going to /dev/null.
#
#   ruby bench/solve_bench.rb BASELINE_EXT_DIR EXT_DIR OUTPUT.json [TSPLIB_DIR]
#
# Both builds define the class Corvelanth: the baseline is loaded first and
# renamed, then the real extension defines the class afresh.
require "json"

baseline_dir, ext_dir, output, tsplib_dir = ARGV
abort "usage: #{$PROGRAM_NAME} BASELINE_EXT_DIR EXT_DIR OUTPUT.json [TSPLIB_DIR]" unless output

require File.join(File.expand_path(baseline_dir), "Corvelanth.so")
Baseline = Corvelanth
Object.send(:remove_const, :Corvelanth)
require File.join(File.expand_path(ext_dir), "Corvelanth.so")
abort "the two builds did not load apart" if Baseline.equal?(Corvelanth)

ROUNDS = Integer(ENV.fetch("ROUNDS", "11"))
BATCH_SECONDS = Float(ENV.fetch("BATCH_SECONDS", "0.02"))
CENTRES = [[100, 100], [900, 200], [300, 800], [750, 700]].freeze

# Random instances: uniform floats, Integers 0..99 (many equal costs) and four clusters.
def random_instance(family, count, rng)
  point = lambda do
    case family
    when "uniform" then [rng.rand * 1000.0, rng.rand * 1000.0]
    when "integer" then [rng.rand(100), rng.rand(100)]
    else
      cx, cy = CENTRES[rng.rand(4)]
      # Box-Muller keeps the clusters Gaussian without a gem.
      r = Math.sqrt(-2.0 * Math.log(1.0 - rng.rand)) * 40.0
      t = 2.0 * Math::PI * rng.rand
      [cx + r * Math.cos(t), cy + r * Math.sin(t)]
    end
  end
  cities = Array.new(count) { point.call }
  [cities, point.call]
end

# A TSPLIB file's coordinates: node 1 is the robot, the rest are the cities.
def tsplib_instance(path)
  lines = File.readlines(path).map(&:strip)
  start = lines.index("NODE_COORD_SECTION") or return nil
  nodes = lines[(start + 1)..].take_while { |l| l != "EOF" }.map { |l| l.split[1, 2].map { |v| Float(v) } }
  return nil if nodes.size < 2 || nodes.size > 201

  [nodes[1..], nodes[0]]
end

def now = Process.clock_gettime(Process::CLOCK_MONOTONIC)

# Seconds per call over a batch of calls.
def per_call(solver, cities, robot, calls)
  start = now
  calls.times { solver.solve(cities, robot) }
  (now - start) / calls
end

instances = []
%w[uniform integer clustered].each do |family|
  [10, 50, 100, 200].each do |count|
    cities, robot = random_instance(family, count, Random.new(7 * count + 1))
    instances << ["#{family}-#{count}", cities, robot]
  end
end
if tsplib_dir && File.directory?(tsplib_dir)
  Dir[File.join(tsplib_dir, "*.tsp")].sort.each do |path|
    instance = tsplib_instance(path)
    instances << [File.basename(path, ".tsp"), *instance] if instance
  end
end

STDOUT.flush
STDOUT.reopen(File::NULL)
results = instances.map do |name, cities, robot|
  raise "#{name}: the builds disagree" unless Baseline.solve(cities, robot) == Corvelanth.solve(cities, robot)

  solvers = { "baseline" => Baseline, "fast" => Corvelanth }
  calls = solvers.transform_values do |solver|
    [(BATCH_SECONDS / per_call(solver, cities, robot, 3)).ceil, 1].max
  end
  times = Hash.new { |h, k| h[k] = [] }
  ROUNDS.times do |round|
    order = round.even? ? solvers.keys : solvers.keys.reverse
    order.each { |key| times[key] << per_call(solvers[key], cities, robot, calls[key]) }
  end
  median = ->(list) { list.sort[list.size / 2] }
  # Each round times both builds back to back: the median of the per-round
  # ratios is steadier than the ratio of the medians on a shared machine.
  ratios = times["baseline"].zip(times["fast"]).map { |base, fast| base / fast }
  { "instance" => name, "cities" => cities.size,
    "baseline_us" => median.call(times["baseline"]) * 1e6, "fast_us" => median.call(times["fast"]) * 1e6,
    "ratio" => median.call(ratios) }
end
# Calls per second on a 200-city instance from 1 thread and from one thread
# per processor, each thread solving back to back for THROUGHPUT_SECONDS.
THROUGHPUT_SECONDS = Float(ENV.fetch("THROUGHPUT_SECONDS", "1.0"))
def throughput(solver, cities, robot, threads)
  deadline = now + THROUGHPUT_SECONDS
  counts = Array.new(threads) do
    Thread.new do
      calls = 0
      while now < deadline
        solver.solve(cities, robot)
        calls += 1
      end
      calls
    end
  end.map(&:value)
  counts.sum / THROUGHPUT_SECONDS
end

require "etc"
_, big_cities, big_robot = instances.find { |name, *| name == "uniform-200" }
thread_counts = [1, Etc.nprocessors].uniq
throughput_rows = thread_counts.map do |threads|
  { "threads" => threads, "baseline_per_s" => throughput(Baseline, big_cities, big_robot, threads),
    "fast_per_s" => throughput(Corvelanth, big_cities, big_robot, threads) }
end
File.write(output, JSON.pretty_generate({ "instances" => results, "throughput" => throughput_rows }))
