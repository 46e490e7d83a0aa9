# frozen_string_literal: true

class Corvelanth
  # Draws a planned route as an SVG picture: a title line (stops, travel, how
  # the route was planned), the route as a line with an arrow on every leg,
  # the start (the robot) as a green disc, the end as a red square, cities
  # as dots labelled with the caller's numbers, cities left unplaced in red,
  # and a scale bar.
  #
  # The canvas takes the aspect of the data. Labels that would overlap
  # another label or a marker are left out (each marker still carries its
  # label as a tooltip). Only finite coordinates of points on the route set
  # the scale: an unplaced city far away is drawn at the picture's edge, and
  # a point without finite coordinates is not drawn.
  #
  # @example
  #   route = Corvelanth.plan(cities, robot, improve: true)
  #   File.write("route.svg", Corvelanth::SVG.draw(cities, robot, route, improve: true))
  module SVG
    # The longer side of the drawing area, in pixels.
    SIZE = 720.0
    # The space between the drawing area and the canvas's edge, in pixels.
    MARGIN = 30.0

    module_function

    # The SVG text of +route+ (a Corvelanth::Route, or anything with +order+,
    # +travel+ and +unplaced+) through +cities+ from +robot+.
    #
    # Points may be [x, y] Arrays, anything with +to_ary+, Structs, Hashes
    # with :x and :y (or "x" and "y"), or objects with +x+ and +y+.
    #
    # @param cities [Array] the cities, nodes 0 to cities.size - 1.
    # @param robot [Object] the robot's point, node cities.size.
    # @param route [Corvelanth::Route] the route to draw.
    # @param labels [Array, Hash, #call, nil] each node's label: indexed by
    #   node (an Array or a Hash) or called with the node index; a nil label
    #   draws none. By default the node index itself.
    # @param finish [Object, nil] the finish's point, node cities.size + 1,
    #   for a route that ends there; by default the route's own +finish+,
    #   where it has one.
    # @param improve [Boolean, Integer, Symbol, nil] how the route was
    #   planned, as given to Corvelanth.plan, for the title: false for the
    #   fixed heuristic; true, a number of kicks or :thorough for an improved
    #   route; nil says nothing.
    # @return [String] a standalone SVG document.
    # @raise [TypeError] for a point or a coordinate that is not a number.
    # @raise [ArgumentError] for a point with fewer than two coordinates.
    def draw(cities, robot, route, labels: nil, finish: nil, improve: nil)
      finish ||= route.finish if route.respond_to?(:finish)
      Picture.new(cities, robot, route, labels: labels, finish: finish, improve: improve).to_s
    end

    # The title line of a picture of +route+ through +city_count+ cities:
    # stops, travel, how the route was planned and the cities left unplaced.
    #
    # @param route [Corvelanth::Route]
    # @param city_count [Integer] how many cities were given.
    # @param improve [Boolean, Integer, Symbol, nil] as for #draw.
    # @return [String] e.g. "5 stops · travel 41.5421 · improved".
    def caption(route, city_count, improve: nil)
      ending = route.order.last == city_count + 1 ? "to the finish" : nil
      Picture.title_text(route, city_count, improve, ending)
    end

    # Builds one picture: the screen place of every point, then the elements.
    class Picture
      # The height of the title's band at the top.
      TITLE_BAND = 34.0
      # The height of the band at the bottom for the scale bar and the legend.
      FOOTER_BAND = 34.0
      # The narrowest canvas, wide enough for the title.
      MIN_WIDTH = 520.0
      # The shortest side of the drawing area, for data along a line.
      MIN_SIDE = SIZE / 4
      # The font size of a city's label; the start's and the end's are a point larger.
      LABEL_SIZE = 10.0
      # The colour of the route's line and arrows.
      ROUTE_COLOUR = "#2563eb"
      # The colour of the start's disc and label.
      START_COLOUR = "#15803d"
      # The colour of the end's square and label.
      END_COLOUR = "#b91c1c"
      # The colour of unplaced cities.
      UNPLACED_COLOUR = "#dc2626"
      # The colour of the other cities.
      CITY_COLOUR = "#1f2937"
      # The colour of the scale bar and the legend.
      TEXT_COLOUR = "#374151"

      # The title's parts joined; +ending+ says where the route ends, if anywhere fixed.
      def self.title_text(route, city_count, improve, ending)
        stops = route.order.count { |node| node < city_count }
        parts = [format("%d %s", stops, stops == 1 ? "stop" : "stops"), ending, format("travel %.4f", route.travel),
                 planning(improve)]
        parts << "#{route.unplaced.size} unplaced (red)" unless route.unplaced.empty?
        parts.compact.join(" · ")
      end

      # How the route was planned, in words, from plan's improve: value.
      def self.planning(improve)
        case improve
        when nil then nil
        when false then "fixed heuristic"
        when true then "improved"
        when Integer then format("improved, %d kicks", improve)
        else "improved, #{improve}"
        end
      end

      def initialize(cities, robot, route, labels:, finish:, improve:)
        @count = cities.size
        @route = route
        @points = cities.map { |c| coordinates(c) } << coordinates(robot)
        @points << coordinates(finish) if finish
        @labels = labels
        @improve = improve
        @placed = route.order.select { |node| node < @points.size }
        @last = @placed.size > 1 ? @placed.last : nil
        # A route that ends where it started has its end drawn around the start.
        @end_at_start = @last && @points[@last] == @points[@count]
        layout
        @outside = []
        @screen = @points.each_with_index.map { |point, node| to_screen(point, node) }
      end

      # The whole document.
      def to_s
        parts = [header, title, route_line, *arrows, *cities, *start_and_end, *labels, *scale_bar, *legend, "</svg>"]
        "#{parts.join("\n")}\n"
      end

      private

      # The x and y of a point as Floats, from any of the shapes SVG.draw takes.
      def coordinates(point)
        pair = if point.is_a?(Hash)
                 [point.fetch(:x) { point.fetch("x") }, point.fetch(:y) { point.fetch("y") }]
               elsif point.respond_to?(:to_ary) then point.to_ary
               elsif point.is_a?(Struct) then point.to_a
               elsif point.respond_to?(:x) && point.respond_to?(:y) then [point.x, point.y]
               else raise TypeError, "not a point: #{point.class}"
               end
        raise ArgumentError, "a point needs two coordinates" if pair.size < 2

        [coordinate(pair[0]), coordinate(pair[1])]
      end

      # One coordinate as a Float; strings, symbols, nil and booleans are refused.
      def coordinate(value)
        if value.nil? || value == true || value == false || value.is_a?(String) || value.is_a?(Symbol)
          raise TypeError, "not a coordinate: #{value.inspect}"
        end

        Float(value.to_f)
      end

      # Chooses the scale and the canvas from the finite points on the route
      # (from every finite point when the route has none).
      def layout
        finite = @placed.map { |node| @points[node] }.select { |point| point.all?(&:finite?) }
        finite = @points.select { |point| point.all?(&:finite?) } if finite.empty?
        finite = [[0.0, 0.0]] if finite.empty?
        # Coordinates are divided by a power of two first, so that no span overflows.
        largest = finite.flatten.map(&:abs).max
        @unit = largest > 1 ? 2.0**Math.frexp(largest)[1] : 1.0
        xs = finite.map { |x, _| x / @unit }
        ys = finite.map { |_, y| y / @unit }
        @min_x = xs.min
        @min_y = ys.min
        fit(xs.max - @min_x, ys.max - @min_y)
      end

      # Sets the scale, the drawing area and the canvas for spans +span_x+ by +span_y+.
      def fit(span_x, span_y)
        longest = [span_x, span_y].max
        @scale = longest.positive? ? SIZE / longest : 1.0
        @area_w = [span_x * @scale, MIN_SIDE].max
        @area_h = [span_y * @scale, MIN_SIDE].max
        @width = [@area_w + (2 * MARGIN), MIN_WIDTH].max
        @height = TITLE_BAND + @area_h + (2 * MARGIN) + FOOTER_BAND
        # The data centred where a minimum made the area larger than the data.
        @left = (@width - (span_x * @scale)) / 2
        @bottom = TITLE_BAND + MARGIN + @area_h - ((@area_h - (span_y * @scale)) / 2)
      end

      # A point's place on the canvas, or nil when it has no finite
      # coordinates; +node+, beyond the drawing, is put at its edge and noted.
      def to_screen((x, y), node)
        return nil unless x.finite? && y.finite?

        sx = @left + (((x / @unit) - @min_x) * @scale)
        sy = @bottom - (((y / @unit) - @min_y) * @scale)
        place = [sx.clamp(MARGIN / 2, @width - (MARGIN / 2)),
                 sy.clamp(TITLE_BAND + (MARGIN / 2), @height - FOOTER_BAND - (MARGIN / 2))]
        @outside << node unless place == [sx, sy]
        place
      end

      # The opening tag and a white background.
      def header
        w = num(@width)
        h = num(@height)
        %(<svg xmlns="http://www.w3.org/2000/svg" width="#{w}" height="#{h}" viewBox="0 0 #{w} #{h}" ) +
          %(font-family="DejaVu Sans, Helvetica, Arial, sans-serif">\n<rect width="100%" height="100%" fill="white"/>)
      end

      # The title line, at the top.
      def title
        text = Picture.title_text(@route, @count, @improve, ending)
        %(<text class="title" x="#{num(MARGIN / 2)}" y="23" font-size="15" font-weight="bold" fill="#111827">) +
          "#{escape(text)}</text>"
      end

      # Where the route ends, in words, when it ends at a given finish.
      def ending
        return nil unless @last == @count + 1

        @end_at_start ? "round trip" : "to the finish"
      end

      # The route as one path, broken where a point cannot be drawn.
      def route_line
        moves = []
        pen_down = false
        @placed.each do |node|
          point = @screen[node]
          moves << "#{pen_down ? "L" : "M"}#{num(point[0])},#{num(point[1])}" if point
          pen_down = !point.nil?
        end
        %(<path id="route" d="#{moves.join(" ")}" fill="none" stroke="#{ROUTE_COLOUR}" stroke-width="1.6" ) +
          %(stroke-linejoin="round" stroke-opacity="0.85"/>)
      end

      # An arrow head halfway along every leg long enough to carry one.
      def arrows
        @placed.each_cons(2).filter_map do |a, b|
          from = @screen[a]
          to = @screen[b]
          next unless from && to && Math.hypot(to[0] - from[0], to[1] - from[1]) >= 14

          angle = Math.atan2(to[1] - from[1], to[0] - from[0]) * 180 / Math::PI
          middle = "#{num((from[0] + to[0]) / 2)},#{num((from[1] + to[1]) / 2)}"
          %(<path class="arrow" d="M-4,-3.2 L4,0 L-4,3.2 z" fill="#{ROUTE_COLOUR}" ) +
            %(transform="translate(#{middle}) rotate(#{num(angle)})"/>)
        end
      end

      # A dot per city, red for those left unplaced (a ring when beyond the
      # drawing), with its label as a tooltip.
      def cities
        (0...@count).filter_map do |node|
          point = @screen[node]
          next unless point

          %(<circle class="#{@route.unplaced.include?(node) ? "unplaced" : "city"}" data-node="#{node}" ) +
            %(cx="#{num(point[0])}" cy="#{num(point[1])}" #{city_style(node)}>#{tooltip(node)}</circle>)
        end
      end

      # The size and paint of a city's dot.
      def city_style(node)
        if @outside.include?(node) then %(r="4" fill="white" stroke="#{UNPLACED_COLOUR}" stroke-width="2")
        elsif @route.unplaced.include?(node) then %(r="4" fill="#{UNPLACED_COLOUR}")
        else %(r="3" fill="#{CITY_COLOUR}")
        end
      end

      # The robot's green disc, and a red square around the route's last stop
      # (with a dot for a finish, which has no city's).
      def start_and_end
        parts = [finish_dot].compact
        robot = @screen[@count]
        if robot
          parts << %(<circle class="start" data-node="#{@count}" cx="#{num(robot[0])}" cy="#{num(robot[1])}" r="7" ) +
                   %(fill="#{START_COLOUR}" stroke="white" stroke-width="2">#{tooltip(@count)}</circle>)
        end
        last = @last && @screen[@last]
        if last
          half = @end_at_start ? 11 : 7
          parts << %(<rect class="end" data-node="#{@last}" x="#{num(last[0] - half)}" y="#{num(last[1] - half)}" ) +
                   %(width="#{2 * half}" height="#{2 * half}" fill="none" stroke="#{END_COLOUR}" stroke-width="2.5"/>)
        end
        parts
      end

      # The finish's dot, when the route ends at a finish away from the start.
      def finish_dot
        point = @last && @last > @count && !@end_at_start && @screen[@last]
        return nil unless point

        %(<circle class="finish" data-node="#{@last}" cx="#{num(point[0])}" cy="#{num(point[1])}" r="3" ) +
          %(fill="#{END_COLOUR}">#{tooltip(@last)}</circle>)
      end

      # A node's label as a tooltip element, or nothing.
      def tooltip(node)
        text = label(node)
        text ? "<title>#{escape(text)}</title>" : ""
      end

      # The label of +node+ as a String, or nil for none.
      def label(node)
        value = if @labels.nil? then node
                elsif @labels.respond_to?(:call) then @labels.call(node)
                else @labels[node]
                end
        value&.to_s
      end

      # The labels that fit, each on the first free side of its marker: the
      # start's and the end's first, then the unplaced cities', then the
      # others in visiting order.
      def labels
        marked = (0..@count).select { |node| @screen[node] }
        marked << @last if @last && @last > @count && @screen[@last]
        # The start's label stands for an end drawn around it.
        marked.delete(@last) if @end_at_start && @screen[@count]
        placer = LabelPlacer.new(@width, TITLE_BAND, @height - FOOTER_BAND)
        marked.each { |node| placer.block(*@screen[node], marker_radius(node)) }
        @placed.each_cons(2) { |a, b| placer.line(*@screen[a], *@screen[b]) if @screen[a] && @screen[b] }
        ([@count, @last].compact + @route.unplaced + @placed + marked).uniq.select { |n| marked.include?(n) }
                                                                  .filter_map { |node| label_text(node, placer) }
      end

      # The text element of +node+'s label where +placer+ finds room, or nil.
      def label_text(node, placer)
        text = label(node)
        return nil if text.nil? || text.empty?

        size = node == @count || node == @last ? LABEL_SIZE + 1 : LABEL_SIZE
        x, y = placer.place(*@screen[node], marker_radius(node), text, size)
        return nil unless x

        %(<text class="label" data-node="#{node}" x="#{num(x)}" y="#{num(y)}" font-size="#{num(size)}" ) +
          %(fill="#{label_colour(node)}" stroke="white" stroke-width="3" stroke-linejoin="round" ) +
          %(paint-order="stroke">#{escape(text)}</text>)
      end

      # A label's colour: its marker's.
      def label_colour(node)
        if node == @count then START_COLOUR
        elsif @route.unplaced.include?(node) then UNPLACED_COLOUR
        elsif node == @last then END_COLOUR
        else CITY_COLOUR
        end
      end

      # How far a node's marker reaches from its centre.
      def marker_radius(node)
        if node == @count then @end_at_start ? 12.0 : 9.0
        elsif node == @last then 8.0
        else 4.0
        end
      end

      # A bar of a round length in data units, about a fifth of the drawing's
      # width, at the bottom left.
      def scale_bar
        per_pixel = @unit / @scale
        target = (@area_w / 5) * per_pixel
        return [] unless target.finite? && target.positive?

        step = 10.0**Math.log10(target).floor
        length = [5, 2, 1].map { |m| m * step }.find { |l| l <= target } || step
        pixels = length / per_pixel
        return [] unless pixels.finite? && pixels >= 1

        x = MARGIN / 2
        y = footer_y
        [%(<path class="scale" d="M#{num(x)},#{num(y - 4)} V#{num(y + 4)} M#{num(x)},#{num(y)} H#{num(x + pixels)} ) +
         %(M#{num(x + pixels)},#{num(y - 4)} V#{num(y + 4)}" stroke="#{TEXT_COLOUR}" stroke-width="1.5" fill="none"/>),
         %(<text class="scale" x="#{num(x + pixels + 6)}" y="#{num(y + 4)}" font-size="11" fill="#{TEXT_COLOUR}">) +
           "#{escape(length_text(length))}</text>"]
      end

      # A length in data units as a short label for the scale bar.
      def length_text(value)
        return format("%g", value) if value >= 1e6 || value < 1e-3

        format("%.3f", value).sub(/\.?0+\z/, "")
      end

      # What the markers mean, right-aligned at the bottom.
      def legend
        keys = [["start (robot)", :start]]
        keys << ["end", :end] if @last
        keys << ["unplaced", :unplaced] unless @route.unplaced.empty?
        keys << ["beyond the edge", :outside] unless @outside.empty?
        x = @width - (MARGIN / 2)
        y = footer_y
        keys.reverse.flat_map do |text, kind|
          x -= text.size * 6.6
          text_x = x
          x -= 22
          sample = legend_sample(kind, x + 8, y)
          x -= 14
          [sample, %(<text x="#{num(text_x)}" y="#{num(y + 4)}" font-size="11" fill="#{TEXT_COLOUR}">#{text}</text>)]
        end
      end

      # The legend's sample of one kind of marker, centred at +x+, +y+.
      def legend_sample(kind, x, y)
        case kind
        when :start then %(<circle cx="#{num(x)}" cy="#{num(y)}" r="6" fill="#{START_COLOUR}"/>)
        when :end
          %(<rect x="#{num(x - 6)}" y="#{num(y - 6)}" width="12" height="12" fill="none" stroke="#{END_COLOUR}" ) +
            %(stroke-width="2.5"/>)
        when :unplaced then %(<circle cx="#{num(x)}" cy="#{num(y)}" r="4" fill="#{UNPLACED_COLOUR}"/>)
        else %(<circle cx="#{num(x)}" cy="#{num(y)}" r="4" fill="white" stroke="#{UNPLACED_COLOUR}" stroke-width="2"/>)
        end
      end

      # The middle of the footer band.
      def footer_y
        @height - (FOOTER_BAND / 2)
      end

      # +text+ made safe as XML character data or an attribute value.
      def escape(text)
        text.to_s.encode("UTF-8", invalid: :replace, undef: :replace)
            .gsub(/[^\t\n\r\u0020-\uD7FF\uE000-\uFFFD\u{10000}-\u{10FFFF}]/, "")
            .gsub(/[&<>"']/, "&" => "&amp;", "<" => "&lt;", ">" => "&gt;", '"' => "&quot;", "'" => "&#39;")
      end

      # A screen coordinate as SVG text.
      def num(value)
        format("%.2f", value)
      end
    end
    private_constant :Picture

    # Places labels beside their markers where they overlap no marker and no
    # label placed before, and preferably no line; keeps the occupied boxes
    # and the lines in grids of cells for quick lookup.
    class LabelPlacer
      # The side of a grid cell, in pixels.
      CELL = 32.0
      # The sides a label may take, in order of preference, as x and y
      # directions: right-up, right-down, left-up, left-down, above, below,
      # right, left.
      SIDES = [[1, -1], [1, 1], [-1, -1], [-1, 1], [0, -1], [0, 1], [1, 0], [-1, 0]].freeze

      def initialize(width, top, bottom)
        @width = width
        @top = top
        @bottom = bottom
        @cells = Hash.new { |hash, key| hash[key] = [] }
        @lines = Hash.new { |hash, key| hash[key] = [] }
      end

      # Marks a marker of +radius+ at +x+, +y+ as occupied.
      def block(x, y, radius)
        add([x - radius, y - radius, x + radius, y + radius])
      end

      # Marks the leg from +x1+, +y1+ to +x2+, +y2+ as a line that labels
      # should rather not cover.
      def line(x1, y1, x2, y2)
        segment = [x1, y1, x2, y2]
        cells_of([[x1, x2].min, [y1, y2].min, [x1, x2].max, [y1, y2].max]).each { |cell| @lines[cell] << segment }
      end

      # The baseline start of a label of +text+ in font +size+ beside the
      # marker at +x+, +y+, which it now occupies; nil when no side is free.
      # A side that covers no line is taken first.
      def place(x, y, radius, text, size)
        w = text.size * size * 0.62
        boxes = SIDES.map { |sx, sy| box_beside(x, y, radius + 1.5, w, size, sx, sy) }
                     .select { |box| inside?(box) && free?(box) }
        box = boxes.find { |b| clear_of_lines?(b) } || boxes.first
        return nil unless box

        add(box)
        [box[0], box[3] - (0.22 * size)]
      end

      private

      # The box of a +w+ by +h+ label on side +sx+, +sy+ of a marker at +x+, +y+.
      def box_beside(x, y, gap, w, h, sx, sy)
        left = if sx.positive? then x + gap
               elsif sx.negative? then x - gap - w
               else x - (w / 2)
               end
        # Beside the marker, a label overlaps its height by half.
        reach = sx.zero? ? gap : gap - (h / 2)
        top = if sy.positive? then y + reach
              elsif sy.negative? then y - reach - h
              else y - (h / 2)
              end
        [left, top, left + w, top + h]
      end

      # Whether +box+ lies on the canvas between the title and the footer.
      def inside?(box)
        box[0] >= 2 && box[2] <= @width - 2 && box[1] >= @top && box[3] <= @bottom
      end

      # Whether +box+ overlaps no occupied box.
      def free?(box)
        cells_of(box).all? do |cell|
          @cells.fetch(cell, []).none? { |o| box[0] < o[2] && o[0] < box[2] && box[1] < o[3] && o[1] < box[3] }
        end
      end

      # Whether +box+ covers none of the lines.
      def clear_of_lines?(box)
        cells_of(box).all? { |cell| @lines.fetch(cell, []).none? { |segment| crosses?(box, segment) } }
      end

      # Whether the segment +x1+, +y1+ to +x2+, +y2+ meets +box+: their
      # bounding boxes overlap and the box's corners are not all on one side.
      def crosses?(box, (x1, y1, x2, y2))
        return false if [x1, x2].max < box[0] || [x1, x2].min > box[2] || [y1, y2].max < box[1] || [y1, y2].min > box[3]

        sides = [[box[0], box[1]], [box[2], box[1]], [box[0], box[3]], [box[2], box[3]]].map do |x, y|
          ((x2 - x1) * (y - y1)) - ((y2 - y1) * (x - x1))
        end
        sides.min <= 0 && sides.max >= 0
      end

      # Records +box+ as occupied.
      def add(box)
        cells_of(box).each { |cell| @cells[cell] << box }
      end

      # The grid cells +box+ touches.
      def cells_of(box)
        rows = (box[1] / CELL).floor..(box[3] / CELL).floor
        ((box[0] / CELL).floor..(box[2] / CELL).floor).flat_map { |c| rows.map { |r| [c, r] } }
      end
    end
    private_constant :LabelPlacer
  end
end
