# Ruby-level fuzzer: random argument graphs for Corvelanth.solve, and for
# Corvelanth.plan when the extension has it, each checked by
# ruby_harness.rb against a model of the argument reading and the baseline
# extension (the same binding on the straightforward oracle solver).
#
#   ruby test/fuzz/ruby_fuzzer.rb EXT_DIR BASELINE_EXT_DIR [SECONDS]
#   ruby test/fuzz/ruby_fuzzer.rb EXT_DIR BASELINE_EXT_DIR --replay CASE.json
#   ruby test/fuzz/ruby_fuzzer.rb EXT_DIR BASELINE_EXT_DIR --save CASE.json
#
# --save adds a hand-written case (a description as the saved cases hold it)
# to test/fuzz/ruby_cases/ with the baseline's outcome for it.
# SECONDS defaults to 60; RUBY_FUZZ_SEED fixes the generator's seed. A failing
# case is shrunk and saved in test/fuzz/ruby_cases/, which the Ruby suite
# replays; the case being called is always in build/ruby-fuzz/current.json,
# so one that crashes the interpreter is left behind too.
require "digest"
require "fileutils"
require_relative "ruby_harness"

ext_dir, baseline_dir, *rest = ARGV
abort "usage: #{$PROGRAM_NAME} EXT_DIR BASELINE_EXT_DIR [SECONDS | --replay CASE.json | --save CASE.json]" unless baseline_dir

# Both builds define the class Corvelanth: the baseline is loaded first and renamed.
# plan and Route are Ruby over each build's native half, loaded for each.
RUBY_HALF = %w[route plan].map { |name| File.expand_path("../../lib/corvelanth/#{name}.rb", __dir__) }
require File.join(File.expand_path(baseline_dir), "Corvelanth.so")
require RUBY_HALF.last
Baseline = Corvelanth
Object.send(:remove_const, :Corvelanth)
require File.join(File.expand_path(ext_dir), "Corvelanth.so")
RUBY_HALF.each { |file| load file }
abort "ruby fuzz: the two builds did not load apart" if Baseline.equal?(Corvelanth)
if Corvelanth.respond_to?(:plan) && !Baseline.respond_to?(:plan)
  abort "ruby fuzz: the extension has plan and the baseline in #{baseline_dir} does not: rebuild it"
end

ROOT = File.expand_path("../..", __dir__)
CASES_DIR = File.join(ROOT, "test", "fuzz", "ruby_cases")
WORK_DIR = File.join(ROOT, "build", "ruby-fuzz")
CURRENT = File.join(WORK_DIR, "current.json")
REFERENCE = RubyFuzz.reference_from(Baseline)
FileUtils.mkdir_p(WORK_DIR)

# Random cases, as plain descriptions.
class CaseMaker
  WEIRD = [Float::NAN, Float::INFINITY, -Float::INFINITY, -0.0, 5e-324, Float::MAX, 1e300, 29_999.999, 30_000,
           -30_000.0, 20_000, 10**400, -(10**400), 2**64, 2**70 + 1, Rational(1, 3), BigDecimal("NaN"),
           BigDecimal("-Infinity"), BigDecimal("1e400"), BigDecimal("0.1"), Complex(3, 1), Complex(3, 0.0),
           Complex(Float::NAN, 0), Complex(Rational(7, 2), 0)].freeze
  JUNK = %w[nil true false string symbol object basic hash range].freeze
  BAD_DESTINATIONS = %w[integer symbol object basic true].freeze

  def initialize(rng, plan:)
    @rng = rng
    @plan = plan
  end

  # One random case.
  def make
    @nodes = []
    @arrays = []
    @hostiles = []
    # How often a value is something other than a plain number or pair.
    @strange = [0.0, 0.0, 0.02, 0.1, 0.3].sample(random: @rng)
    cities = reserve_array
    robot = reserve_array
    fill(cities, Array.new(city_count) { city })
    fill(robot, [coordinate, coordinate])
    args = [cities, strange? ? odd_pair : robot]
    args = [args, args + [junk], [cities]].sample(random: @rng) if chance(0.02)
    method = @plan && chance(0.3) ? "plan" : "solve"
    { "method" => method, "nodes" => @nodes, "args" => args, "kw" => keywords(method) }
  end

  private

  def chance(p) = @rng.rand < p
  def strange? = chance(@strange)

  def add(node)
    @nodes << node
    @nodes.size - 1
  end

  def reserve_array
    cls = chance(0.1) ? "Sub" : chance(0.05) ? "Lying" : "Array"
    id = add({ "k" => "ary", "cls" => cls, "frozen" => chance(0.05), "el" => [] })
    @arrays << id
    id
  end

  def fill(id, elements) = @nodes[id]["el"].concat(elements)

  def city_count
    r = @rng.rand
    return @rng.rand(0..8) if r < 0.45
    return @rng.rand(9..40) if r < 0.75
    return @rng.rand(41..200) if r < 0.95

    @rng.rand(201..230)
  end

  def pair
    id = reserve_array
    extras = chance(0.1) ? Array.new(@rng.rand(1..2)) { chance(0.5) ? hostile : number } : []
    fill(id, [coordinate, coordinate] + extras)
    id
  end

  def city = strange? ? odd_pair : pair

  # Something in a pair's place that is not a plain pair.
  def odd_pair
    case @rng.rand(8)
    when 0 then junk
    when 1 then (id = reserve_array) && fill(id, chance(0.5) ? [] : [coordinate]) && id
    when 2 then add({ "k" => "like", "v" => pair })
    when 3 then hostile
    when 4 then (id = reserve_array) && fill(id, [id, coordinate]) && id # contains itself
    when 5 then @arrays.size > 2 ? @arrays.sample(random: @rng) : pair # shared with another place
    else pair
    end
  end

  def coordinate
    return number unless strange?

    r = @rng.rand
    return hostile if r < 0.6
    return junk if r < 0.7
    return add({ "k" => "num", "v" => scalar(WEIRD.sample(random: @rng)) }) if r < 0.95

    @arrays.sample(random: @rng) # an array as a coordinate
  end

  def number
    value = case @rng.rand(20)
            when 0..9 then @rng.rand(100)
            when 10..16 then (@rng.rand * 2000.0) - 1000.0
            when 17 then Rational(@rng.rand(1000), @rng.rand(1..7))
            when 18 then BigDecimal(format("%.3f", @rng.rand * 500))
            else Complex(@rng.rand(100), 0)
            end
    add({ "k" => "num", "v" => scalar(value) })
  end

  def junk = add({ "k" => "junk", "v" => JUNK.sample(random: @rng) })

  def scalar(value)
    case value
    when Integer then ["i", value.to_s]
    when Float then RubyFuzz.float_desc(value)
    when Rational then ["r", value.to_s]
    when BigDecimal then ["d", value.to_s]
    when Complex then ["c", scalar(value.real), scalar(value.imaginary)]
    end
  end

  # An object whose to_f runs a short script; sometimes one made before.
  def hostile
    return @hostiles.sample(random: @rng) if @hostiles.any? && chance(0.1)

    steps = Array.new(@rng.rand(1..3)) { { "do" => actions, "then" => step_result } }
    id = add({ "k" => "hostile", "cls" => chance(0.5) ? "numeric" : "object", "steps" => steps })
    @hostiles << id
    id
  end

  def actions
    return [] if chance(0.6)

    Array.new(@rng.rand(1..2)) do
      target = @arrays.sample(random: @rng)
      case @rng.rand(100)
      when 0..19 then ["push", target, chance(0.7) ? plain_pair : junk]
      when 20..39 then ["pop", target]
      when 40..49 then ["clear", target]
      when 50..79 then ["set", target, @rng.rand(0..4), chance(0.5) ? plain_pair : [junk, number].sample(random: @rng)]
      when 80..83 then ["gc"]
      when 84 then ["compact"]
      else ["solve"]
      end
    end
  end

  def plain_pair
    id = add({ "k" => "ary", "cls" => "Array", "frozen" => false, "el" => [] })
    fill(id, [number, number])
    id
  end

  def step_result
    case @rng.rand(20)
    when 0..13 then ["value", RubyFuzz.float_desc(chance(0.9) ? @rng.rand * 1000.0 : WEIRD.grep(Float).sample(random: @rng))]
    when 14, 15 then ["raise", "refused"]
    when 16, 17 then ["value", scalar([3, Rational(3), 10**30, BigDecimal("3")].sample(random: @rng))]
    else ["node", [junk, @arrays.sample(random: @rng)].sample(random: @rng)]
    end
  end

  # Keywords for a call of `method`: for plan, half the time with improve:.
  def keywords(method)
    r = @rng.rand
    if method == "plan" && r < 0.5
      kw = [["improve", improvement]]
      kw.insert(chance(0.5) ? 0 : 1, ["report", destination]) if chance(0.3)
      return kw
    end
    return [["improve", improvement]] if r < 0.02
    return nil if r < 0.35
    return [] if r < 0.4
    return [["report", destination], [chance(0.5) ? "output" : "verbose", destination]] if r < 0.43
    return [["output", destination]] if r < 0.45

    [["report", destination]]
  end

  # An improve: value: mostly a small budget or true, sometimes one plan refuses.
  def improvement
    r = @rng.rand
    return { "k" => "value", "v" => ["i", @rng.rand(0..40).to_s] } if r < 0.45
    return { "k" => "true" } if r < 0.55
    return { "k" => %w[false nil].sample(random: @rng) } if r < 0.65
    return { "k" => "value", "v" => ["i", [-1, 10_000_001, -(2**70), 2**70].sample(random: @rng).to_s] } if r < 0.8
    return { "k" => "value", "v" => [["f", "1.5"], ["f", "NaN"], ["r", "3/1"], ["c", ["i", "3"], ["i", "0"]]].sample(random: @rng) } if r < 0.9

    { "k" => "junk", "v" => %w[string symbol object basic hash integer].sample(random: @rng) }
  end

  def destination
    r = @rng.rand
    return { "k" => "io" } if r < 0.5
    return { "k" => "writer" } if r < 0.62
    return { "k" => "nil" } if r < 0.77
    return { "k" => "false" } if r < 0.82
    return { "k" => "failing_write" } if r < 0.88
    return { "k" => "failing_flush" } if r < 0.94

    { "k" => "junk", "v" => BAD_DESTINATIONS.sample(random: @rng) }
  end
end

# Checks a case, leaving it in CURRENT while it runs.
def check_case(desc)
  File.write(CURRENT, JSON.generate(desc))
  RubyFuzz.check(desc, REFERENCE)
end

# Smaller variants of a case, most promising first.
def variants(desc)
  Enumerator.new do |out|
    copy = -> { JSON.parse(JSON.generate(desc)) }
    nodes = desc["nodes"]
    out << copy.().tap { |d| d["kw"] = nil } if desc["kw"]
    out << copy.().tap { |d| d["method"] = "solve" } if desc["method"] != "solve"
    # Whole runs of elements out of each array, halves first.
    nodes.each_with_index do |node, id|
      next unless node["k"] == "ary"

      size = node["el"].size
      chunk = size
      while chunk >= 1
        (0...size).step(chunk) { |from| out << copy.().tap { |d| d["nodes"][id]["el"].slice!(from, chunk) } }
        chunk /= 2
      end
    end
    nodes.each_with_index do |node, id|
      one = { "k" => "num", "v" => ["i", "1"] }
      out << copy.().tap { |d| d["nodes"][id] = one } unless node == one || node["k"] == "ary"
      case node["k"]
      when "hostile"
        out << copy.().tap { |d| d["nodes"][id]["steps"] = node["steps"].first(1) } if node["steps"].size > 1
        node["steps"].each_index do |s|
          out << copy.().tap { |d| d["nodes"][id]["steps"][s]["do"] = [] } if node["steps"][s]["do"].any?
          out << copy.().tap { |d| d["nodes"][id]["steps"][s]["then"] = ["value", ["f", "1.0"]] }
        end
      when "ary"
        out << copy.().tap { |d| d["nodes"][id].merge!("cls" => "Array") } if node["cls"] != "Array"
        out << copy.().tap { |d| d["nodes"][id]["frozen"] = false } if node["frozen"]
      end
    end
  end
end

# The smallest variant of a failing case that still fails, within the deadline.
def shrink(desc, deadline)
  loop do
    smaller = variants(desc).find do |variant|
      break nil if Process.clock_gettime(Process::CLOCK_MONOTONIC) > deadline
      next false if variant == desc

      check_case(variant)
    end
    return desc unless smaller

    desc = smaller
  end
end

# The case with the nodes nothing refers to taken out and the rest renumbered.
def pruned(desc)
  nodes = desc["nodes"]
  refs = lambda do |node|
    case node["k"]
    when "ary" then node["el"]
    when "like" then [node["v"]]
    when "hostile"
      node["steps"].flat_map do |step|
        step["do"].flat_map { |a| a[1].is_a?(Integer) ? [a[1]] + (a[0] == "push" ? [a[2]] : a[0] == "set" ? [a[3]] : []) : [] } +
          (step["then"][0] == "node" ? [step["then"][1]] : [])
      end
    else []
    end
  end
  seen = []
  todo = desc["args"].dup
  until todo.empty?
    id = todo.pop
    next if seen.include?(id)

    seen << id
    todo.concat(refs.(nodes[id]))
  end
  keep = seen.sort
  renumber = keep.each_with_index.to_h
  map = ->(id) { renumber.fetch(id) }
  new_nodes = keep.map do |id|
    node = JSON.parse(JSON.generate(nodes[id]))
    case node["k"]
    when "ary" then node["el"].map!(&map)
    when "like" then node["v"] = map.(node["v"])
    when "hostile"
      node["steps"].each do |step|
        step["do"].each do |a|
          next unless a[1].is_a?(Integer)

          a[1] = map.(a[1])
          a[2] = map.(a[2]) if a[0] == "push"
          a[3] = map.(a[3]) if a[0] == "set"
        end
        step["then"][1] = map.(step["then"][1]) if step["then"][0] == "node"
      end
    end
    node
  end
  desc.merge("nodes" => new_nodes, "args" => desc["args"].map(&map))
end

# A saved case's JSON, one node to a line.
def case_text(saved)
  desc = saved["case"]
  head = desc.reject { |key, _| key == "nodes" }
  nodes = desc["nodes"].each_with_index.map { |node, id| "    #{JSON.generate(node)}#{id == desc['nodes'].size - 1 ? '' : ','} " }
  <<~JSON
    {
      "failure": #{JSON.generate(saved['failure'])},
      "case": #{JSON.generate(head).delete_suffix('}')}, "nodes": [
    #{nodes.map(&:rstrip).join("\n")}
      ]},
      "expected": #{JSON.generate(saved['expected'])}
    }
  JSON
end

# Saves a shrunk failing case with the outcome the reference gives for it.
def save_case(desc, failure)
  graph = RubyFuzz::Graph.new(desc)
  plain = nil
  RubyFuzz.captured { plain = RubyFuzz.model_read(desc, graph) }
  expected = plain && REFERENCE.call(desc, plain)
  text = case_text({ "failure" => failure, "case" => desc, "expected" => expected })
  FileUtils.mkdir_p(CASES_DIR)
  path = File.join(CASES_DIR, "#{Digest::SHA256.hexdigest(JSON.generate(desc))[0, 12]}.json")
  File.write(path, text + "\n")
  path
end

if %w[--replay --save].include?(rest.first)
  desc = JSON.parse(File.read(rest.fetch(1)))
  desc = desc["case"] if desc.key?("case")
  failure = check_case(desc)
  puts failure || "ruby fuzz: the case passes"
  puts "ruby fuzz: saved as #{save_case(desc, failure)}" if rest.first == "--save"
  exit(failure ? 1 : 0)
end

seconds = Float(rest.first || ENV.fetch("RUBY_FUZZ_SECONDS", "60"))
seed = Integer(ENV.fetch("RUBY_FUZZ_SEED") { Random.new_seed % 2**32 })
rng = Random.new(seed)
maker = CaseMaker.new(rng, plan: Corvelanth.respond_to?(:plan))
started = Process.clock_gettime(Process::CLOCK_MONOTONIC)
deadline = started + seconds
calls = Hash.new(0)
endings = Hash.new(0)
saved = []
while Process.clock_gettime(Process::CLOCK_MONOTONIC) < deadline && saved.size < 3
  desc = maker.make
  failure = check_case(desc)
  calls[desc["method"]] += 1
  last = RubyFuzz.last_outcome
  endings[last.nil? ? "skipped" : last["error"] ? last["error"][0] : "route"] += 1
  next unless failure

  warn "ruby fuzz: #{failure[0, 500]}"
  small = pruned(shrink(desc, Process.clock_gettime(Process::CLOCK_MONOTONIC) + 30))
  path = save_case(small, check_case(small) || failure)
  warn "ruby fuzz: shrunk to #{small['nodes'].size} nodes, saved as #{path}"
  saved |= [path]
end
File.delete(CURRENT) if File.exist?(CURRENT)
elapsed = Process.clock_gettime(Process::CLOCK_MONOTONIC) - started
puts format("ruby fuzz: %d calls (%s) in %.1f s, seed %d, %d failing cases saved%s", calls.values.sum,
            calls.map { |m, n| "#{m} #{n}" }.join(", "), elapsed, seed, saved.size,
            saved.empty? ? "" : ": #{saved.map { |p| File.basename(p) }.join(' ')}")
puts "ruby fuzz: endings: #{endings.sort_by { |_, n| -n }.map { |e, n| "#{e} #{n}" }.join(', ')}"
exit(saved.empty? ? 0 : 1)
