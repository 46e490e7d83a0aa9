# frozen_string_literal: true

require_relative "route"

class Corvelanth
  class << self
    # The class only groups the gem's methods: it has no instances.
    undef_method :new

    # Plans a route for a robot through +cities+ and returns it as a
    # {Corvelanth::Route}; nothing is written unless +report+ is given.
    #
    # Without +finish+ and +costs+ the route is open and the same as
    # {Corvelanth.solve} gives; +improve+ then shortens it further.
    #
    # @example An open route, improved
    #   route = Corvelanth.plan([[7, 2], [19, 11], [4, 8]], [0, 0], improve: true)
    #   route.order   # => [3, 2, 0, 1]
    # @example A round trip back to the charger
    #   Corvelanth.plan(cities, charger, finish: charger, improve: true)
    # @example Travel costs alone: the stops are named, not placed
    #   costs = [[0, 4, 9], [4, 0, 3], [9, 3, 0]]   # shelf A, shelf B, the dock
    #   Corvelanth.plan(["shelf A", "shelf B"], "dock", costs: costs).stops
    #   # => ["shelf B", "shelf A"]
    # @example The best route so far, every 0.1 s of a long search
    #   Corvelanth.plan(cities, robot, improve: 1_000_000) do |best|
    #     break best if best.travel < good_enough
    #   end
    #
    # @param cities [Array] at most {MAX_CITIES} points. A point is an Array
    #   (or anything with to_ary) whose elements 0 and 1 are its x and y, a
    #   Struct whose first two members are, a Hash with :x and :y (or "x" and
    #   "y"), or an object that responds to x and y. Coordinates are numbers;
    #   strings are not parsed.
    # @param robot [Object] the robot's point: the route starts there.
    # @param finish [Object, nil] a point where the route must end: its node
    #   is cities.size + 1, last in the order, and travel includes the leg
    #   into it. <code>finish: robot</code> plans a round trip.
    # @param costs [Array<Array<Numeric>>, nil] the travel cost between every
    #   two nodes, in place of straight-line distances: a square matrix
    #   indexed by node (cities 0...n, the robot n, the finish n + 1 when
    #   given), finite, at least 0 and symmetric; the diagonal is not read.
    #   The points then only place the nodes in the report, and a city, robot
    #   or finish that is not a point (a name, say) is a node without a place.
    # @param improve [Boolean, Integer, Symbol] false or nil for the fixed
    #   heuristic's route; true for a search of the default budget (a few
    #   milliseconds at 200 cities); :thorough for a longer search; or a budget
    #   in kicks, 0 to 10,000,000. The improved route starts (and ends) where
    #   the fixed one does, visits the same cities and is never longer; a
    #   budget in kicks gives the same route on every machine.
    # @param time_limit [Numeric, nil] seconds: the search stops then, with
    #   the best route so far; without +improve+ it searches until then. A
    #   route cut short by the clock may differ between runs and machines.
    # @param report [#write, nil] where to write the run report, as
    #   {Corvelanth.solve} does (diagnostics to $stderr included); nil or
    #   false for none.
    # @yieldparam best [Route] the best route so far, about every 0.1 s of
    #   search; not called for a shorter search. +break+ ends the search, and
    #   plan returns what the block breaks with.
    # @return [Route]
    # @raise [TypeError, ArgumentError] for bad arguments, naming the point or
    #   the matrix entry.
    # @raise [TooManyCitiesError] above {MAX_CITIES} cities.
    # @raise [UnreachableError] when, on an open route without costs, no
    #   city is closer than 30000 to the robot.
    def plan(cities, robot, finish: nil, costs: nil, improve: false, time_limit: nil, report: nil, &progress)
      each_best = progress && proc { |best| progress.call(Route.from_values(best, finish)) }
      Route.from_values(native_plan(cities, robot, finish, costs, improve, time_limit, report, &each_best), finish)
    end
  end
end
