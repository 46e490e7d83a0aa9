# Soak run: many calls mixing good and raising inputs, to solve and to plan
# with a small improvement budget, checking every outcome and that the
# process's resident memory stays flat once warmed up.
#
#   ruby test/soak/soak.rb EXT_DIR [CALLS]
#
# Two rounds: CALLS calls on the main thread, then CALLS calls on each of 4
# threads and 2 Ractors solving at once, started afresh every tenth of the
# round, so that a thread's workspace not freed when the thread ends shows as
# growth. Reports go to /dev/null. Resident memory is sampled after a full
# collection every tenth of each round; in each round the largest sample after
# the first may exceed the first one by at most the round's bound.
require "bigdecimal"

ext_dir = ARGV.fetch(0) { abort "usage: soak.rb EXT_DIR [CALLS]" }
CALLS = Integer(ARGV.fetch(1, "100000"))
GROWTH_BOUND_KIB = 1024
# Six allocating threads move the heap around by up to about 2 MiB between
# samples; a workspace (about 600 KB) kept past its thread's end would add
# 2.4 MB every tenth.
PARALLEL_GROWTH_BOUND_KIB = 4096
THREADS = 4
RACTORS = 2
TENTHS = 10

$LOAD_PATH.unshift(File.expand_path(ext_dir))
require "Corvelanth"
require_relative "../../lib/corvelanth/plan"

# Resident set size of this process, in KiB.
def resident_kib
  File.read("/proc/self/status")[/^VmRSS:\s+(\d+) kB/, 1].to_i
end

# A coordinate whose conversion runs Ruby code.
class SoakCoordinate < Numeric
  def initialize(&conversion)
    super()
    @conversion = conversion
  end

  def to_f
    @conversion.call
  end
end

class SoakError < StandardError; end

# The improve: value of a case that calls solve rather than plan.
SOLVE = :solve

# What the call of one case returns: solve's route, or plan's order, travel
# and unplaced cities.
def soak_call(cities, robot, improve)
  return Corvelanth.solve(cities, robot) if improve == SOLVE

  route = Corvelanth.plan(cities, robot, improve: improve)
  [route.order, route.travel, route.unplaced]
end

# The calls, in a shuffled schedule of weighted cases: [name, cities, robot,
# exception class or nil, improve: value or SOLVE]. Made afresh by every
# Ractor, since the converting coordinates hold blocks, which cannot be shared
# between Ractors.
def soak_schedule
  rng = Random.new(1)
  random_cities = ->(count, span) { Array.new(count) { [rng.rand(span), rng.rand(span)] } }
  five = [[7, 2], [19, 11], [4, 14], [3, 12], [0, 20]]

  # [name, weight, cities, robot, improve: value]: plan calls that return a route.
  planned = [
    ["improved twenty floats", 10, random_cities.(20, 100.0), [50, 50], 8],
    ["improved five cities", 5, five, [2, 14], true],
    ["plan without improvement", 5, five, [2, 14], false],
    ["improved sixty cities", 2, random_cities.(60, 1000.0), [500, 500], 20],
    ["improved two hundred cities", 1, random_cities.(200, 1000.0), [0, 0], 3],
    ["improved unplaceable cities", 5, [[20_000, 0], [-20_000, 0], [Float::NAN, 1], [1, 1]], [0, 0], 0],
  ]
  # [name, weight, cities, robot, improve: value, exception class]: plan calls that raise.
  refused = [
    ["improve: a String", 5, five, [2, 14], "3", TypeError],
    ["improve: too many kicks", 5, five, [2, 14], 10_000_001, ArgumentError],
    ["improve: negative", 3, five, [2, 14], -1, ArgumentError],
    ["improved but unreachable", 3, [[40_000, 0]], [0, 0], 5, Corvelanth::UnreachableError],
  ]
  # [name, weight, cities, robot]: calls that return a route.
  good = [
    ["five cities", 40, five, [2, 14]],
    ["one city", 10, [[3, 4]], [0, 0]],
    ["twenty floats", 20, random_cities.(20, 100.0), [50, 50]],
    ["mixed numerics", 10, [[Rational(1, 3), BigDecimal("2.5")], [Complex(7, 0), 7.25], [4, 4]], [0, 0]],
    ["unplaceable cities", 10, [[20_000, 0], [-20_000, 0], [Float::NAN, 1], [1, 1]], [0, 0]],
    ["converting coordinates", 5, five.map { |x, y| [SoakCoordinate.new { x.to_f }, y] }, [2, 14]],
    ["sixty cities", 2, random_cities.(60, 1000.0), [500, 500]],
    ["two hundred cities", 1, random_cities.(200, 1000.0), [0, 0]],
  ]
  # [name, weight, cities, robot, exception class]: calls that raise.
  bad = [
    ["no cities", 10, [], [0, 0], Corvelanth::UnreachableError],
    ["unreachable", 5, [[40_000, 0]], [0, 0], Corvelanth::UnreachableError],
    ["too many cities", 5, Array.new(201) { [0, 0] }, [0, 0], Corvelanth::TooManyCitiesError],
    ["city not an array", 10, [[1, 2], "3,4"], [0, 0], TypeError],
    ["robot not an array", 5, five, nil, TypeError],
    ["short city", 10, [[1, 2], [3]], [0, 0], ArgumentError],
    ["string coordinate", 10, [[1, "2"]], [0, 0], TypeError],
    ["raising conversion", 10, [[1, 2], [SoakCoordinate.new { raise SoakError, "refused" }, 1]], [0, 0], SoakError],
    ["re-entrant conversion", 5,
     [[SoakCoordinate.new { Corvelanth.solve([[1, 1]], [0, 0]); raise SoakError, "after solving" }, 1]], [0, 0],
     SoakError],
  ]
  cases = good.map { |name, weight, cities, robot| [name, weight, cities, robot, nil, SOLVE] } +
          bad.map { |name, weight, cities, robot, error| [name, weight, cities, robot, error, SOLVE] } +
          planned.map { |name, weight, cities, robot, improve| [name, weight, cities, robot, nil, improve] } +
          refused.map { |name, weight, cities, robot, improve, error| [name, weight, cities, robot, error, improve] }
  cases.flat_map { |name, weight, *call| [[name, *call]] * weight }.shuffle(random: rng)
end

# Makes calls `from`...`to` of the schedule (cyclically), checking each
# against the expected routes; returns [routes, raised, failures].
def soak_calls(schedule, expected, from, to)
  solved = raised = 0
  failures = []
  (from...to).each do |i|
    name, cities, robot, error, improve = schedule[i % schedule.size]
    begin
      route = soak_call(cities, robot, improve)
      if error
        failures << "#{name}: returned #{route.inspect} instead of raising #{error}"
      elsif route != expected[name]
        failures << "#{name}: #{route.inspect} instead of #{expected[name].inspect}"
      end
      solved += 1
    rescue StandardError => e
      failures << "#{name}: raised #{e.class}: #{e.message}" unless error && e.instance_of?(error)
      raised += 1
    end
    break if failures.size > 10
  end
  [solved, raised, failures.first(10)]
end

# The calls of one tenth of a round on fresh threads and fresh Ractors, each
# making `share` calls; returns each worker's [routes, raised, failures].
def parallel_tenth(schedule, expected, tenth, share)
  threads = Array.new(THREADS) do |i|
    Thread.new { soak_calls(schedule, expected, (i * 7919) + (tenth * share), (i * 7919) + ((tenth + 1) * share)) }
  end
  ractors = Array.new(RACTORS) do |i|
    from = ((THREADS + i) * 7919) + (tenth * share)
    # Each Ractor makes its own schedule: the converting coordinates hold blocks.
    Ractor.new(expected, from, from + share) { |routes, first, last| soak_calls(soak_schedule, routes, first, last) }
  end
  threads.map(&:value) + ractors.map(&:take)
end

log = STDERR.dup
STDOUT.reopen(File::NULL, "w")
STDERR.reopen(File::NULL, "w")
schedule = soak_schedule
# Expected routes, from one call each before the run.
expected = schedule.reject { |_, _, _, error| error }.uniq(&:first).to_h do |name, cities, robot, _, improve|
  [name, soak_call(cities, robot, improve)]
end
Ractor.make_shareable(expected)
Warning[:experimental] = false # Ractors are still experimental in Ruby 3.1.

share = CALLS / TENTHS
# [title, growth bound, the calls of one tenth]
rounds = [
  ["one thread", GROWTH_BOUND_KIB, ->(tenth) { [soak_calls(schedule, expected, tenth * share, (tenth + 1) * share)] }],
  ["#{THREADS} threads and #{RACTORS} Ractors", PARALLEL_GROWTH_BOUND_KIB,
   ->(tenth) { parallel_tenth(schedule, expected, tenth, share) }],
]
status = 0
rounds.each do |title, bound, tenth_of_calls|
  started = Process.clock_gettime(Process::CLOCK_MONOTONIC)
  samples = []
  solved = raised = 0
  failures = []
  TENTHS.times do |tenth|
    tenth_of_calls.call(tenth).each do |routes, raises, wrong|
      solved += routes
      raised += raises
      failures.concat(wrong)
    end
    GC.start
    samples << resident_kib
  end
  elapsed = Process.clock_gettime(Process::CLOCK_MONOTONIC) - started
  baseline = samples.first
  peak = samples.drop(1).max || baseline
  log.puts format("soak (%s): %d calls (%d routes, %d raised) in %.1f s; resident %d KiB after the first tenth, " \
                  "at most %d KiB after (bound +%d KiB)", title, solved + raised, solved, raised, elapsed, baseline,
                  peak, bound)
  log.puts "soak (#{title}): resident KiB by tenth: #{samples.join(' ')}"
  failures.first(10).each { |f| log.puts "soak (#{title}): wrong outcome: #{f}" }
  status = 1 unless failures.empty?
  if peak - baseline > bound
    log.puts "soak (#{title}): resident memory grew by #{peak - baseline} KiB"
    status = 1
  end
end
exit status
