# Times Corvelanth.solve through Ruby for the baseline build and the real
# extension side by side, alternating, with the run report going to /dev/null.
#
#   ruby bench/solve_bench.rb BASELINE_EXT_DIR EXT_DIR OUTPUT.json [TSPLIB_DIR]
#
# Both builds define the class Corvelanth: the baseline is loaded first and
# renamed, then the real extension defines the class afresh. A random set is
# twenty instances of one family and size, solved in turn (real callers send
# a different instance every time). CORVELANTH_SIMD, when set, forces the real
# extension's path; THROUGHPUT=0 skips the threads rows.
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

SET_SIZE = 20

# Seconds per call over a batch of calls, taking the set's instances in turn.
def per_call(solver, set, calls)
  start = now
  calls.times { |k| cities, robot = set[k % set.size]; solver.solve(cities, robot) }
  (now - start) / calls
end

instances = []
%w[uniform integer clustered].each do |family|
  [10, 50, 100, 200].each do |count|
    set = Array.new(SET_SIZE) { |k| random_instance(family, count, Random.new(7 * count + 1 + 1000 * k)) }
    instances << ["#{family}-#{count}", set]
  end
end
if tsplib_dir && File.directory?(tsplib_dir)
  Dir[File.join(tsplib_dir, "*.tsp")].sort.each do |path|
    instance = tsplib_instance(path)
    instances << [File.basename(path, ".tsp"), [instance]] if instance
  end
end

STDOUT.flush
STDOUT.reopen(File::NULL)
results = instances.map do |name, set|
  set.each do |cities, robot|
    raise "#{name}: the builds disagree" unless Baseline.solve(cities, robot) == Corvelanth.solve(cities, robot)
  end

  solvers = { "baseline" => Baseline, "fast" => Corvelanth }
  calls = solvers.transform_values do |solver|
    [(BATCH_SECONDS / per_call(solver, set, set.size)).ceil, set.size].max
  end
  times = Hash.new { |h, k| h[k] = [] }
  ROUNDS.times do |round|
    order = round.even? ? solvers.keys : solvers.keys.reverse
    order.each { |key| times[key] << per_call(solvers[key], set, calls[key]) }
  end
  median = ->(list) { list.sort[list.size / 2] }
  # Each round times both builds back to back: the median of the per-round
  # ratios is steadier than the ratio of the medians on a shared machine.
  ratios = times["baseline"].zip(times["fast"]).map { |base, fast| base / fast }
  { "instance" => name, "cities" => set.first[0].size,
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
_, big_set = instances.find { |name, *| name == "uniform-200" }
big_cities, big_robot = big_set.first
thread_counts = ENV["THROUGHPUT"] == "0" ? [] : [1, Etc.nprocessors].uniq
throughput_rows = thread_counts.map do |threads|
  { "threads" => threads, "baseline_per_s" => throughput(Baseline, big_cities, big_robot, threads),
    "fast_per_s" => throughput(Corvelanth, big_cities, big_robot, threads) }
end
File.write(output, JSON.pretty_generate({ "path" => ENV.fetch("CORVELANTH_SIMD", "widest"), "instances" => results,
                                          "throughput" => throughput_rows }))
