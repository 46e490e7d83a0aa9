# frozen_string_literal: true

class Corvelanth
  # A planned route, as Corvelanth.plan returns it: a frozen value, equal to
  # another Route with the same order, travel and unplaced cities.
  #
  #   route = Corvelanth.plan(cities, robot, improve: true)
  #   route.stops        # the cities, in visiting order
  #   route.legs.sum     # == route.travel
  #   case route
  #   in [robot, first, *] then ...
  #   end
  class Route
    # @return [Array<Integer>] the node indices in visiting order (frozen): the
    #   robot's node (cities.size) first, then the cities, 0-based in the
    #   order given, and the finish's node (cities.size + 1) last when the
    #   route has one.
    attr_reader :order
    # @return [Float] the route's length: the sum of {#legs} from left to
    #   right, and the run report's travel, bit for bit.
    attr_reader :travel
    # @return [Array<Integer>] the indices of the cities left out, ascending
    #   (frozen); only the fixed open heuristic leaves any out.
    attr_reader :unplaced
    # @return [Array<Float>] the cost of each leg in visiting order (frozen):
    #   legs[k] is the cost from order[k] to order[k + 1].
    attr_reader :legs
    # @return [Array] the caller's own city objects in visiting order
    #   (frozen), without the robot and the finish.
    attr_reader :stops
    # @return [Object, nil] the finish point as it was given, or nil for an
    #   open route.
    attr_reader :finish

    class << self
      # A Route always has its values: none is made empty or by hand.
      undef_method :allocate
      private :new

      # The Route of the values the extension returns: [order, travel,
      # unplaced, legs, cities].
      # @api private
      def from_values(values, finish)
        order, travel, unplaced, legs, cities = values
        count = cities.size
        stops = order.filter_map { |node| cities[node] if node < count }
        new(order, travel, unplaced, legs, stops.freeze, finish)
      end

      # The Route Marshal.dump wrote.
      # @param data [String]
      # @return [Route]
      def _load(data)
        new(*Marshal.load(data)) # rubocop:disable Security/MarshalLoad
      end
    end

    # @api private
    def initialize(order, travel, unplaced, legs, stops, finish)
      @order = order.freeze
      @travel = travel
      @unplaced = unplaced.freeze
      @legs = legs.freeze
      @stops = stops.freeze
      @finish = finish
      freeze
    end

    # @return [Array<Integer>] the visiting order, as {#order} gives it.
    def to_a = order

    # @return [Array<Integer>] the visiting order, for array patterns:
    #   <code>in [robot, first, *rest]</code>.
    def deconstruct = order

    # @return [Hash] the route as <code>{order:, travel:, unplaced:}</code>.
    def to_h = { order: order, travel: travel, unplaced: unplaced }

    # The route's values for hash patterns: <code>in {order:, travel:}</code>.
    # @param keys [Array<Symbol>, nil]
    # @return [Hash]
    def deconstruct_keys(keys)
      { order: order, travel: travel, unplaced: unplaced, legs: legs, stops: stops, finish: finish }
    end

    # @return [Hash] the route as JSON data, with string keys: order,
    #   travel, unplaced and legs.
    def as_json(*)
      { "order" => order, "travel" => travel, "unplaced" => unplaced, "legs" => legs }
    end

    # @return [String] the route as a JSON object, as {#as_json} gives it.
    def to_json(*args)
      require "json"
      as_json.to_json(*args)
    end

    # @return [Boolean] true when +other+ is a Route with the same order,
    #   travel and unplaced cities.
    def ==(other)
      other.is_a?(Route) && values == other.values
    end

    # @return [Boolean] as {#==}, with the values compared by eql?.
    def eql?(other)
      other.is_a?(Route) && values.eql?(other.values)
    end

    # @return [Integer] a hash code consistent with {#eql?}.
    def hash = values.hash

    # @return [Route] the route itself: a frozen value is its own copy.
    def dup = self

    # @param freeze [Boolean, nil] false is refused: a Route is always frozen.
    # @return [Route] the route itself.
    def clone(freeze: nil)
      raise ArgumentError, "can't unfreeze #{self.class}" if freeze == false

      self
    end

    # @return [String] the route's values.
    def inspect
      "#<#{self.class} order=#{order.inspect} travel=#{travel.inspect} unplaced=#{unplaced.inspect}>"
    end

    # @return [String] the route's values for Marshal.
    def _dump(_level)
      Marshal.dump([order, travel, unplaced, legs, stops, finish])
    end

    protected

    # The values equality compares.
    def values = [order, travel, unplaced]
  end
end
