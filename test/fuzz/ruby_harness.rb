# Argument graphs for Corvelanth.solve and Corvelanth.plan, what a call on one
# must do, and the check that it does: shared by the Ruby-level fuzzer
# (ruby_fuzzer.rb) and by the Ruby suite, which replays the saved cases.
#
# A case is plain JSON: a list of nodes (numbers, junk values, arrays by
# element ids, hostile objects whose to_f or to_ary runs scripted steps), the
# positional arguments as node ids and the keywords. Each check builds the
# graph twice from it. On the first copy a Ruby model of the documented
# reading order (the report destination, the cities array, each city's length,
# x, y, then the robot) gives either the exception the call must raise, having
# printed nothing, or plain Float coordinates; those go to a reference solver
# (the baseline extension, or the outcome saved with a case), whose route,
# diagnostics and report bytes the real call must then give. The real call
# runs on the second copy, and every conversion the hostile objects saw must
# match the first copy's, call for call.
require "bigdecimal"
require "json"
require "stringio"

module RubyFuzz
  # Raised by the fuzzer's own objects.
  class Refusal < StandardError; end

  ARY_AT = Array.instance_method(:[])
  ARY_SIZE = Array.instance_method(:size)
  ARY_PUSH = Array.instance_method(:push)
  ARY_POP = Array.instance_method(:pop)
  ARY_CLEAR = Array.instance_method(:clear)
  ARY_STORE = Array.instance_method(:[]=)
  RESPONDS = Kernel.instance_method(:respond_to?)
  FIVE_CITIES = [[7, 2], [19, 11], [4, 14], [3, 12], [0, 20]].freeze
  FIVE_ROBOT = [2, 14].freeze
  FIVE_ROUTE = [5, 4, 2, 3, 0, 1].freeze
  INNER_CITIES = [[1, 1], [2, 2], [9, 9]].freeze
  MAX_KICKS = 10_000_000

  # An Array subclass with nothing changed.
  class PlainSubclass < Array; end

  # An Array subclass whose Ruby-level readers all lie; the storage is true.
  class LyingArray < Array
    def [](*) = [99, 99]
    def at(*) = [99, 99]
    def size = 1
    def length = 1
    def each(*) = raise(Refusal, "each")
    def to_a = raise(Refusal, "to_a")
    def to_ary = raise(Refusal, "to_ary")
  end

  # An object without a Float conversion, inspected without its address.
  class Junk
    def inspect = "#<junk>"
  end

  # A report destination with write only, keeping what it was given.
  class Writer
    attr_reader :text

    def initialize = @text = +""
    def write(*parts) = parts.each { |p| @text << p }.sum(&:bytesize)
  end

  # A report destination whose write raises.
  class FailingWriter < Writer
    def write(*) = raise(Refusal, "write refused")
  end

  # A report destination whose flush raises after a good write.
  class FailingFlush < Writer
    def flush = raise(Refusal, "flush refused")
  end

  # Behaviour shared by the scripted objects: each to_f call runs the next
  # step of the script (the last one again once they run out).
  module Scripted
    def initialize(graph, id, node)
      super()
      @graph = graph
      @id = id
      @node = node
      @calls = 0
    end

    def inspect = "#<hostile #{@id}>"

    def to_f
      steps = @node["steps"]
      step = steps[[@calls, steps.size - 1].min]
      @graph.log << [@id, "to_f", @calls]
      @calls += 1
      step["do"].each { |action| @graph.act(action) }
      outcome, value = step["then"]
      raise Refusal, value if outcome == "raise"

      outcome == "node" ? @graph[value] : RubyFuzz.scalar(value)
    end
  end

  # A scripted Numeric.
  class HostileNumber < Numeric
    include Scripted
  end

  # A scripted plain object.
  class HostileObject
    include Scripted
  end

  # A plain object with to_ary (which the argument readers call, once) and to_a
  # (which they never call).
  class ArrayLike
    def initialize(graph, id, target)
      @graph = graph
      @id = id
      @target = target
    end

    def inspect = "#<array-like #{@id}>"

    def to_ary
      @graph.log << [@id, "to_ary"]
      @graph[@target]
    end
    alias to_a to_ary
  end

  NAMED_FLOATS = { "NaN" => Float::NAN, "Infinity" => Float::INFINITY, "-Infinity" => -Float::INFINITY }.freeze

  module_function

  # The outcome of the last real call checked, for statistics.
  def last_outcome = @last_outcome

  # The number a scalar description stands for.
  def scalar(desc)
    tag, a, b = desc
    case tag
    when "i" then Integer(a)
    when "f" then NAMED_FLOATS.fetch(a) { Float(a) }
    when "r" then Rational(a)
    when "d" then BigDecimal(a)
    when "c" then Complex(scalar(a), scalar(b))
    else raise ArgumentError, "unknown scalar #{desc.inspect}"
    end
  end

  # The description of a Float.
  def float_desc(value)
    text = value.nan? ? "NaN" : NAMED_FLOATS.key(value) || value.to_s
    ["f", text]
  end

  JUNK = {
    "nil" => -> { nil }, "true" => -> { true }, "false" => -> { false }, "string" => -> { "1.5" },
    "symbol" => -> { :x }, "object" => -> { Junk.new }, "basic" => -> { BasicObject.new },
    "hash" => -> { { x: 1 } }, "range" => -> { (1..2) }, "integer" => -> { 3 }
  }.freeze

  # One built copy of a case's objects, with the log of conversions they saw.
  class Graph
    attr_reader :log

    def initialize(desc)
      @log = []
      @objects = {}
      nodes = desc.fetch("nodes")
      # Arrays first, empty, so that elements may refer to any node, cycles included.
      nodes.each_with_index { |node, id| @objects[id] = new_array(node) if node["k"] == "ary" }
      nodes.each_with_index { |node, id| @objects[id] = make(node, id) unless node["k"] == "ary" }
      nodes.each_with_index do |node, id|
        next unless node["k"] == "ary"

        node["el"].each { |element| ARY_PUSH.bind_call(@objects[id], @objects.fetch(element)) }
        @objects[id].freeze if node["frozen"]
      end
    end

    def [](id) = @objects.fetch(id)

    # Runs one scripted action on this copy.
    def act(action)
      verb, target, *rest = action
      array = @objects[target] if target.is_a?(Integer)
      case verb
      when "push" then ARY_PUSH.bind_call(array, self[rest[0]]) if Array === array
      when "pop" then ARY_POP.bind_call(array) if Array === array
      when "clear" then ARY_CLEAR.bind_call(array) if Array === array
      when "set" then ARY_STORE.bind_call(array, rest[0], self[rest[1]]) if Array === array
      when "gc" then GC.start
      when "compact" then GC.compact
      when "solve"
        inner = begin
          Corvelanth.solve(INNER_CITIES, [0, 0], report: nil)
        rescue StandardError => e
          e.class.name
        end
        @log << ["inner solve", inner]
      else raise ArgumentError, "unknown action #{action.inspect}"
      end
    end

    private

    def new_array(node)
      { "Array" => Array, "Sub" => PlainSubclass, "Lying" => LyingArray }.fetch(node.fetch("cls", "Array")).new
    end

    def make(node, id)
      case node["k"]
      when "num" then RubyFuzz.scalar(node["v"])
      when "junk" then JUNK.fetch(node["v"]).call
      when "hostile" then (node["cls"] == "object" ? HostileObject : HostileNumber).new(self, id, node)
      when "like" then ArrayLike.new(self, id, node["v"])
      else raise ArgumentError, "unknown node #{node.inspect}"
      end
    end
  end

  # A destination built from its description: [object to pass, how to read what it got].
  def destination(desc)
    case desc.fetch("k")
    when "io" then (io = StringIO.new) && [io, -> { io.string }]
    when "writer" then (w = Writer.new) && [w, -> { w.text }]
    when "failing_write" then (w = FailingWriter.new) && [w, -> { w.text }]
    when "failing_flush" then (w = FailingFlush.new) && [w, -> { w.text }]
    when "nil" then [nil, -> { "" }]
    when "false" then [false, -> { "" }]
    when "true" then [true, -> { "" }]
    when "value" then [scalar(desc.fetch("v")), -> { "" }]
    when "junk" then [JUNK.fetch(desc["v"]).call, -> { "" }]
    else raise ArgumentError, "unknown destination #{desc.inspect}"
    end
  end

  # An exception the model expects: its class and a message String or Regexp (or nil for any).
  Expected = Struct.new(:error, :message)

  # Raised by the model to say which exception the call must raise.
  class ModelRaise < StandardError
    attr_reader :expected

    def initialize(error, message = nil)
      super("model expects #{error}")
      @expected = Expected.new(error, message)
    end
  end

  # What the binding does to turn one coordinate into a Float (rb_num2dbl).
  def model_float(value)
    case value
    when Float then value
    when Integer, Rational then value.to_f
    when String then raise ModelRaise.new(TypeError, "no implicit conversion to float from string")
    when nil, true, false then raise ModelRaise.new(TypeError, "no implicit conversion to float from #{value.inspect}")
    else
      raise ModelRaise.new(TypeError, /\Acan't convert .* into Float\z/) unless RESPONDS.bind_call(value, :to_f, true)

      # The object's own code: whatever it raises, the call raises.
      converted = value.to_f
      raise ModelRaise.new(TypeError, /to_f gives/) unless Float === converted

      converted
    end
  end

  # `value` as the binding reads a list: an Array as it is, else what its
  # to_ary gives (the object's own code: whatever it raises, the call raises).
  def model_array(value)
    return value if Array === value

    if RESPONDS.bind_call(value, :to_ary, true)
      converted = value.to_ary
      return converted if Array === converted
      raise ModelRaise.new(TypeError, /to_ary gives/) unless converted.nil?
    end
    raise ModelRaise.new(TypeError, /\Awrong argument type .* \(expected Array\)\z/)
  end

  # Elements 0 and 1 of a pair, read and converted in the binding's order.
  def model_pair(value, what)
    pair = model_array(value)
    raise ModelRaise.new(ArgumentError, "#{what} must have two coordinates") if ARY_SIZE.bind_call(pair) < 2

    x = model_float(ARY_AT.bind_call(pair, 0))
    [x, model_float(ARY_AT.bind_call(pair, 1))]
  end

  # What plan does to turn one coordinate of the point `name` into a Float.
  def model_plan_float(value, name, axis)
    case value
    when Float then value
    when Integer, Rational then value.to_f
    when String then raise ModelRaise.new(TypeError, /\A#{name}: #{axis} is a String \(/)
    when nil, true, false then raise ModelRaise.new(TypeError, "#{name}: #{axis} is #{value.inspect}, not a number")
    else
      raise ModelRaise.new(TypeError, /\A#{name}: #{axis} is a .*, not a number\z/) unless RESPONDS.bind_call(value, :to_f, false)

      converted = value.to_f
      raise ModelRaise.new(TypeError, /to_f gives/) unless Float === converted

      converted
    end
  end

  # A point as plan reads it: a list or what to_ary gives, a Struct, a Hash
  # with x and y keys, or an object with x and y methods.
  def model_plan_point(value, name)
    pair = Array === value ? value : nil
    if pair.nil? && RESPONDS.bind_call(value, :to_ary, true)
      converted = value.to_ary
      raise ModelRaise.new(TypeError, /to_ary gives/) unless converted.nil? || Array === converted

      pair = converted
    end
    if pair || Struct === value
      pair ||= value.to_a
      raise ModelRaise.new(ArgumentError, "#{name} must have two coordinates") if ARY_SIZE.bind_call(pair) < 2

      x = model_plan_float(ARY_AT.bind_call(pair, 0), name, "x")
      return [x, model_plan_float(ARY_AT.bind_call(pair, 1), name, "y")]
    end
    if Hash === value
      x = value.key?(:x) ? value[:x] : value.fetch("x") { raise ModelRaise.new(ArgumentError, /\A#{name}: a Hash point/) }
      y = value.key?(:y) ? value[:y] : value.fetch("y") { raise ModelRaise.new(ArgumentError, /\A#{name}: a Hash point/) }
      return [model_plan_float(x, name, "x"), model_plan_float(y, name, "y")]
    end
    if RESPONDS.bind_call(value, :x, false) && RESPONDS.bind_call(value, :y, false)
      return [model_plan_float(value.x, name, "x"), model_plan_float(value.y, name, "y")]
    end
    raise ModelRaise.new(TypeError, /\A#{name}: a point is \[x, y\]/)
  end

  # What plan does with an improve: value: nil, false, true and Fixnums from
  # 0 to MAX_KICKS are budgets; other Integers raise ArgumentError and
  # anything else TypeError.
  def model_improve(value)
    return if [nil, false, true].any? { |plain| plain.equal?(value) } || value == :thorough
    raise ModelRaise.new(ArgumentError, /\Aimprove: must be true, false, nil, :thorough/) if Symbol === value

    raise ModelRaise.new(TypeError, /\Aimprove: must be true, false, nil or a number of kicks/) unless Integer === value
    raise ModelRaise.new(ArgumentError, /\Aimprove: must be from 0 to #{MAX_KICKS} kicks/) unless (0..MAX_KICKS).cover?(value)
  end

  # The model of a call's argument reading on one copy: the plain cities and
  # robot, or ModelRaise (or the hostile objects' own exception).
  def model_read(desc, graph)
    args = desc["args"].map { |id| graph[id] }
    raise ModelRaise.new(ArgumentError, /wrong number of arguments/) unless args.size == 2

    if (keywords = desc["kw"])
      known = desc["method"] == "plan" ? %w[report improve] : %w[report]
      raise ModelRaise.new(ArgumentError, /unknown keyword/) unless keywords.all? { |key, _| known.include?(key) }

      given = keywords.to_h # a repeated keyword: the last one counts, as in a call
      model_improve(destination(given["improve"]).first) if given.key?("improve")
      report = destination(given["report"]).first if given.key?("report")
      if report && !RESPONDS.bind_call(report, :write, false)
        raise ModelRaise.new(TypeError, /\Areport: must be nil, false or respond to write/)
      end
    end
    cities = model_array(args[0])
    robot = args[1]

    count = ARY_SIZE.bind_call(cities)
    raise ModelRaise.new(Corvelanth::TooManyCitiesError, "too many cities") if count > 200

    if desc["method"] == "plan"
      plain = Array.new(count) { |i| model_plan_point(ARY_AT.bind_call(cities, i), "city #{i}") }
      return [plain, model_plan_point(robot, "robot")]
    end
    plain = Array.new(count) { |i| model_pair(ARY_AT.bind_call(cities, i), "city #{i}") }
    [plain, model_pair(robot, "robot")]
  end

  # Runs the block with warnings off and $stdout and $stderr as StringIOs;
  # returns an outcome: { "value" or "error", "stdout", "stderr" }.
  def captured
    saved = [$stdout, $stderr, $VERBOSE]
    $stdout = StringIO.new
    $stderr = StringIO.new
    # Huge Integers warn when converted, and only with warnings on.
    $VERBOSE = nil
    outcome = begin
      { "value" => yield }
    rescue StandardError => e
      { "error" => [e.class.name, e.message.gsub(/0x\h+/, "0x")] }
    end
    outcome.merge("stdout" => $stdout.string, "stderr" => $stderr.string)
  ensure
    $stdout, $stderr, $VERBOSE = saved
  end

  # The route a call returned, as plain JSON data.
  def plain_value(value)
    return value if value.is_a?(Array)

    { "class" => value.class.name.split("::").last, "frozen" => value.frozen?, "order" => value.order,
      "travel" => [value.travel].pack("G").unpack1("H*"), "travel_class" => value.travel.class.name,
      "unplaced" => value.unplaced }
  end

  # Calls `solver`'s method on the given arguments with fresh destinations;
  # the outcome gains "report", what the destination received.
  def call(solver, method, args, keywords)
    reader = nil
    outcome = captured do
      if keywords
        kw = keywords.to_h do |key, dest_desc|
          dest, read = destination(dest_desc)
          reader = read if key == "report"
          [key.to_sym, dest]
        end
        plain_value(solver.public_send(method, *args, **kw))
      else
        plain_value(solver.public_send(method, *args))
      end
    end
    outcome.merge("report" => reader ? reader.call : "")
  end

  # The reference outcome for plain coordinates, from a solver loaded beside
  # the real one.
  def reference_from(solver)
    lambda do |desc, plain|
      method = desc["method"]
      return nil unless solver.respond_to?(method)

      call(solver, method, plain, desc["kw"])
    end
  end

  # Checks one call against its expected outcome; returns nil when it
  # behaved, or a description of what went wrong. `reference` gives the
  # outcome for plain coordinates (nil when it cannot).
  def check(desc, reference)
    model_graph = Graph.new(desc)
    plain = nil
    rule = nil
    model = captured do
      plain = model_read(desc, model_graph)
    rescue ModelRaise => e
      rule = e.expected
      nil
    end
    return "the model printed: #{model.inspect}" unless model["stdout"].empty? && model["stderr"].empty?

    if rule || model["error"]
      # The binding's own refusal (by the model's rule) or the hostile objects' exception.
      expected = { "error" => model["error"], "stdout" => "", "stderr" => "", "report" => "" }
    else
      expected = reference.call(desc, plain)
      return nil if expected.nil?
    end

    graph = Graph.new(desc)
    args = desc["args"].map { |id| graph[id] }
    actual = @last_outcome = call(Corvelanth, desc["method"], args, desc["kw"])
    failure = compare(expected, actual, rule)
    failure ||= "conversions differ: the model saw #{model_graph.log.inspect}, the call #{graph.log.inspect}" \
      unless model_graph.log == graph.log
    failure ||= check_improved(desc, plain, actual["value"]) if plain && actual["value"]
    failure || still_works
  end

  # Compares two outcomes; `rule` holds the model's message rule.
  def compare(expected, actual, rule)
    if rule
      return "raised nothing, expected #{rule.error}: #{actual.inspect}" unless actual["error"]
      return "raised #{actual['error'].inspect}, expected #{rule.error}" unless actual["error"][0] == rule.error.name
      if rule.message && !(rule.message === actual["error"][1])
        return "raised #{actual['error'].inspect}, expected a message like #{rule.message.inspect}"
      end

      expected = expected.merge("error" => actual["error"])
    end
    %w[value error stdout stderr report].each do |key|
      next if expected[key] == actual[key]

      return "#{key} differs: expected #{expected[key].inspect}, got #{actual[key].inspect}"
    end
    nil
  end

  # Nil when an improved plan's route keeps its guarantees, else what broke:
  # it starts at the robot, visits each city once or names it unplaced, its
  # travel is the sum of its legs from left to right, and it is no longer
  # than the plan without improvement, which leaves out the same cities.
  def check_improved(desc, plain, route)
    improve = desc["kw"].to_h["improve"] if desc["method"] == "plan" && desc["kw"]
    return nil unless improve && destination(improve).first

    cities, robot = plain
    points = cities + [robot]
    order = route["order"]
    return "the improved route does not start at the robot: #{order.inspect}" unless order.first == cities.size
    unless (order + route["unplaced"]).sort == (0..cities.size).to_a
      return "the improved route and its unplaced cities are not each node once: #{route.inspect}"
    end

    legs = order.each_cons(2).inject(0.0) do |sum, (a, b)|
      dx = points[a][0] - points[b][0]
      dy = points[a][1] - points[b][1]
      sum + Math.sqrt((dx * dx) + (dy * dy))
    end
    travel = [route["travel"]].pack("H*").unpack1("G")
    return "the improved travel #{travel} is not the sum of its legs, #{legs}" unless travel.eql?(legs)

    fixed = captured { Corvelanth.plan(cities, robot) }["value"]
    return "the plan without improvement failed" unless fixed
    return "the improved route #{travel} is longer than the fixed one, #{fixed.travel}" if travel > fixed.travel
    return "the improved route leaves out other cities than the fixed one" unless fixed.unplaced == route["unplaced"]

    nil
  end

  # Nil when the module still gives the five-city example right, else what it gave.
  def still_works
    report = StringIO.new
    outcome = captured { Corvelanth.solve(FIVE_CITIES, FIVE_ROBOT, report: report) }
    unless outcome["value"] == FIVE_ROUTE && report.string.end_with?("travel\t41.5421\n") && outcome["stderr"].empty?
      return "the five-city example went wrong afterwards: #{outcome.inspect}"
    end
    return nil unless Corvelanth.respond_to?(:plan)

    outcome = captured { Corvelanth.plan(FIVE_CITIES, FIVE_ROBOT, report: nil) }
    route = outcome["value"]
    return nil if route && route.order == FIVE_ROUTE && format("%.4f", route.travel) == "41.5421"

    "the five-city plan went wrong afterwards: #{outcome.inspect}"
  end
end
