# frozen_string_literal: true

class Corvelanth
  # Draws a planned route as an SVG picture: cities as dots labelled with their
  # index, the robot as a green disc, the route as arrows in visiting order,
  # cities left unplaced in red, and the travel length in a caption.
  module SVG
    SIZE = 640.0
    MARGIN = 40.0

    module_function

    # The SVG text of +route+ (a Corvelanth::Route) through +cities+ from
    # +robot+, each point [x, y].
    def draw(cities, robot, route)
      points = cities.map { |x, y| [Float(x), Float(y)] } + [robot.map { |v| Float(v) }]
      screen = place(points)
      svg = [header]
      # One line per leg, so every leg carries its own arrow head.
      route.order.each_cons(2) do |a, b|
        svg << %(<line x1="#{screen[a][0]}" y1="#{screen[a][1]}" x2="#{screen[b][0]}" y2="#{screen[b][1]}" ) +
               %(stroke="#2563eb" stroke-width="1.5" marker-end="url(#arrow)"/>)
      end
      svg << %(<polyline id="route" points="#{route.order.map { |n| screen[n].join(",") }.join(" ")}" ) +
             %(fill="none" stroke="none"/>)
      unplaced = route.unplaced
      cities.each_index { |i| svg.concat(city(i, screen[i], unplaced.include?(i))) }
      svg.concat(robot_disc(cities.size, screen[cities.size]))
      svg << %(<text x="#{MARGIN}" y="#{SIZE.to_i + 15}" font-size="14">#{caption(route, cities.size)}</text>)
      svg << "</svg>"
      "#{svg.join("\n")}\n"
    end

    # The caption under the picture: travel, city count and unplaced cities.
    def caption(route, city_count)
      text = format("travel %.4f, %d cities", route.travel, city_count)
      text += ", #{route.unplaced.size} unplaced (red)" unless route.unplaced.empty?
      text
    end

    # Screen coordinates of every point: the bounding box scaled with equal
    # aspect into the drawing area, centred along its shorter side, y upwards.
    def place(points)
      xs = points.map(&:first)
      ys = points.map(&:last)
      span = [xs.max - xs.min, ys.max - ys.min, 1e-9].max
      scale = (SIZE - (2 * MARGIN)) / span
      left = MARGIN + (((SIZE - (2 * MARGIN)) - ((xs.max - xs.min) * scale)) / 2)
      bottom = SIZE - MARGIN - (((SIZE - (2 * MARGIN)) - ((ys.max - ys.min) * scale)) / 2)
      points.map do |x, y|
        [format("%.2f", left + ((x - xs.min) * scale)), format("%.2f", bottom - ((y - ys.min) * scale))]
      end
    end

    # The opening tags: the canvas, the arrow head and a white background.
    def header
      size = SIZE.to_i
      %(<svg xmlns="http://www.w3.org/2000/svg" width="#{size}" height="#{size + 30}" ) +
        %(viewBox="0 0 #{size} #{size + 30}" font-family="sans-serif">\n) +
        %(<defs><marker id="arrow" viewBox="0 0 10 10" refX="10" refY="5" markerWidth="7" markerHeight="7" ) +
        %(orient="auto-start-reverse"><path d="M0,0 L10,5 L0,10 z" fill="#2563eb"/></marker></defs>\n) +
        %(<rect width="100%" height="100%" fill="white"/>)
    end

    # A city's dot and label, red when it was left unplaced.
    def city(index, (x, y), unplaced)
      colour = unplaced ? "#dc2626" : "#111827"
      [%(<circle class="#{unplaced ? "unplaced" : "city"}" data-node="#{index}" cx="#{x}" cy="#{y}" r="3.5" ) +
       %(fill="#{colour}"/>),
       %(<text x="#{x}" y="#{y}" dx="5" dy="-5" font-size="10" fill="#{colour}">#{index}</text>)]
    end

    # The robot's disc and label.
    def robot_disc(node, (x, y))
      [%(<circle class="robot" data-node="#{node}" cx="#{x}" cy="#{y}" r="7" fill="#16a34a" stroke="white" ) +
       %(stroke-width="2"/>),
       %(<text x="#{x}" y="#{y}" dx="9" dy="13" font-size="11" fill="#16a34a">robot</text>)]
    end
  end
end
