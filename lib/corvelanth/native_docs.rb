# frozen_string_literal: true

# Documentation, for YARD, of what the native extension (Corvelanth.so)
# defines. This file defines nothing and nothing loads it: every line below is
# a comment, which YARD reads as the source it describes.

# @!parse
#   # Plans a short route for a robot through up to {MAX_CITIES} cities in the
#   # plane. {Corvelanth.plan} returns a {Corvelanth::Route};
#   # {Corvelanth.solve} returns the bare visiting order and writes a run
#   # report. The class has no instances.
#   #
#   # @example
#   #   require "corvelanth"
#   #   route = Corvelanth.plan([[7, 2], [19, 11], [4, 14], [3, 12], [0, 20]], [2, 14], improve: true)
#   #   route.order   # => [5, 4, 2, 3, 0, 1]
#   #   route.travel  # => 41.542055463033535
#   class Corvelanth
#     # The largest number of cities a call accepts: 200.
#     MAX_CITIES = 200
#
#     # The budget, in kicks, that <tt>improve: true</tt> stands for: 480.
#     DEFAULT_KICKS = 480
#
#     # The base of the errors the gem raises of its own. It is a
#     # RuntimeError, so <tt>rescue RuntimeError</tt> catches it too.
#     class Error < RuntimeError; end
#
#     # More than {MAX_CITIES} cities were given; raised before any of them
#     # is looked at.
#     class TooManyCitiesError < Error; end
#
#     # No city is closer than 30000 to the robot (or there is no city at
#     # all), so no route can be started.
#     class UnreachableError < Error; end
#
#     # Plans the open route from +robot+ through +cities+ with the fixed
#     # heuristic and returns the visiting order, writing a plain-text run
#     # report to +report+. {Corvelanth.plan} plans the same route quietly and
#     # returns it as a {Route}.
#     #
#     # A point is an Array (or anything with +to_ary+) whose elements 0 and 1
#     # are its x and y, or a Struct whose first two members are; further
#     # elements are ignored. Coordinates are Numeric (Integer, Float,
#     # Rational, BigDecimal, a Complex with no imaginary part) or anything
#     # whose +to_f+ gives a Float. Costs of 30000 or more are never chosen:
#     # a city that no position takes is left out of the result.
#     #
#     # The report is written with one +write+ and then flushed where the
#     # destination has +flush+; the solver's diagnostics (<tt>No
#     # position.</tt>) go to <tt>$stderr</tt> just before it. The solve
#     # itself runs with the interpreter lock released.
#     #
#     # @param cities [Array<Array(Numeric, Numeric)>, #to_ary] at most
#     #   {MAX_CITIES} points, numbered from 0 in this order.
#     # @param robot [Array(Numeric, Numeric), #to_ary, Struct] where the robot is.
#     # @param report [#write, nil, false] where the run report goes: by
#     #   default <tt>$stdout</tt> as it is at the time of the call; +nil+ or
#     #   +false+ for none.
#     # @return [Array<Integer>] node indices in visiting order: the robot's
#     #   node (<tt>cities.size</tt>) first, then each placed city once.
#     # @raise [TypeError] when +cities+, a point or a coordinate has the
#     #   wrong type, or +report+ has no +write+.
#     # @raise [ArgumentError] when a point has fewer than two coordinates,
#     #   or for a wrong number of arguments or an unknown keyword.
#     # @raise [RangeError] for a Complex coordinate with an imaginary part.
#     # @raise [TooManyCitiesError] above {MAX_CITIES} cities.
#     # @raise [UnreachableError] when no city is closer than 30000 to the robot.
#     # @raise [IOError, SystemCallError] what the destination's +write+ raises.
#     # @example
#     #   Corvelanth.solve([[7, 2], [19, 11], [4, 14], [3, 12], [0, 20]], [2, 14], report: nil)
#     #   # => [5, 4, 2, 3, 0, 1]
#     def self.solve(cities, robot, report: $stdout); end
#   end

