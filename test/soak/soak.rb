# Soak run: many calls mixing good and raising inputs, checking every outcome
# and that the process's resident memory stays flat once warmed up.
#
#   ruby test/soak/soak.rb EXT_DIR [CALLS]
#
# Reports go to /dev/null. Resident memory is sampled after a full collection
# every tenth of the run; the largest sample after the first tenth may exceed
# the first one by at most GROWTH_BOUND_KIB.
require "bigdecimal"

ext_dir = ARGV.fetch(0) { abort "usage: soak.rb EXT_DIR [CALLS]" }
CALLS = Integer(ARGV.fetch(1, "100000"))
GROWTH_BOUND_KIB = 1024

$LOAD_PATH.unshift(File.expand_path(ext_dir))
require "Corvelanth"

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

rng = Random.new(1)
random_cities = ->(count, span) { Array.new(count) { [rng.rand(span), rng.rand(span)] } }
five = [[7, 2], [19, 11], [4, 14], [3, 12], [0, 20]]

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

# Expected routes, from one call each before the run.
log = STDERR.dup
STDOUT.reopen(File::NULL, "w")
STDERR.reopen(File::NULL, "w")
expected = good.to_h { |name, _, cities, robot| [name, Corvelanth.solve(cities, robot)] }

schedule = (good.flat_map { |c| [c] * c[1] } + bad.flat_map { |c| [c] * c[1] }).shuffle(random: rng)
samples = []
failures = []
solved = raised = 0
sample_every = CALLS / 10
started = Process.clock_gettime(Process::CLOCK_MONOTONIC)

CALLS.times do |i|
  name, _, cities, robot, error = schedule[i % schedule.size]
  begin
    route = Corvelanth.solve(cities, robot)
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

  next unless ((i + 1) % sample_every).zero?

  GC.start
  samples << resident_kib
end

elapsed = Process.clock_gettime(Process::CLOCK_MONOTONIC) - started
baseline = samples.first
peak = samples.drop(1).max || baseline
log.puts format("soak: %d calls (%d routes, %d raised) in %.1f s; resident %d KiB after the first tenth, " \
                "at most %d KiB after (bound +%d KiB)", solved + raised, solved, raised, elapsed, baseline, peak,
                GROWTH_BOUND_KIB)
log.puts "soak: resident KiB by tenth: #{samples.join(' ')}"
failures.first(10).each { |f| log.puts "soak: wrong outcome: #{f}" }
if peak - baseline > GROWTH_BOUND_KIB
  log.puts "soak: resident memory grew by #{peak - baseline} KiB"
  exit 1
end
exit(failures.empty? ? 0 : 1)
