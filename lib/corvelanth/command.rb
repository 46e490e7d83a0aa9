# frozen_string_literal: true

require "json"
require "optparse"
require_relative "waypoints"

class Corvelanth
  # The corvelanth command: plans a route through the waypoints of a file.
  class Command
    OUTPUTS = %w[text json csv].freeze

    HELP_EXAMPLES = <<~TEXT

      The route starts at the robot: the point given with --robot, or else the
      file's first point. Stops are numbered by their place in the file, from 0
      (header, blank and comment lines are not counted); a robot given with
      --robot has no number. At most #{MAX_CITIES} cities.

      Output formats:
        text  one stop per line, the robot's number first (none with --robot)
        json  {"order": [...], "travel": length, "unplaced": [...]}
              (and "robot": [x, y] with --robot)
        csv   index,x,y per stop, with a header; the robot's index is empty with --robot

      Examples:
        waypoints.csv (x,y per line; an optional header line):
          x,y
          2,14
          7,2
          19,11
        corvelanth waypoints.csv
        corvelanth --improve --output json waypoints.csv

        waypoints.json (an array of [x, y]):
          [[2, 14], [7, 2], [19, 11]]
        corvelanth --robot 0,0 --svg route.svg waypoints.json

        berlin52.tsp (TSPLIB: "id x y" lines after NODE_COORD_SECTION):
          NODE_COORD_SECTION
          1 565.0 575.0
          2 25.0 185.0
          EOF
        corvelanth --format tsplib --kicks 5000 --output csv berlin52.tsp
    TEXT

    # Runs the command with +argv+, writing to +out+ and +err+; the exit status.
    def self.run(argv, out: $stdout, err: $stderr)
      new(out, err).run(argv)
    end

    def initialize(out, err)
      @out = out
      @err = err
      @options = { output: "text", improve: false }
    end

    # Parses the arguments, plans the route and prints it; the exit status.
    def run(argv)
      path = parse_options(argv.dup)
      return 0 unless path

      points = read_points(path)
      cities, robot, numbering = split_robot(points, path)
      route = Corvelanth.plan(cities, robot, improve: @options[:improve])
      print_route(route, cities + [robot], numbering, robot)
      File.write(@options[:svg], Corvelanth::SVG.draw(cities, robot, route)) if @options[:svg]
      warn_unplaced(route, numbering)
      0
    rescue OptionParser::ParseError, Waypoints::Error, Corvelanth::Error, SystemCallError => e
      @err.puts "corvelanth: #{e.message}"
      1
    end

    private

    # Reads the options into @options; the file's path, or nil after --help.
    def parse_options(argv)
      parser = option_parser
      parser.parse!(argv)
      return nil if @options[:help]

      raise OptionParser::InvalidArgument, "expected one waypoint file (see --help)" unless argv.size == 1

      argv.first
    end

    def option_parser
      OptionParser.new do |o|
        o.banner = "Usage: corvelanth [options] WAYPOINTS_FILE\n\nPlans a short open route for a robot " \
                   "through the waypoints of a CSV, JSON or TSPLIB file.\n\nOptions:"
        o.on("--format FORMAT", Waypoints::FORMATS, "csv, json or tsplib (default: by the file's extension)") do |v|
          @options[:format] = v
        end
        o.on("--robot X,Y", "the robot's position (default: the file's first point)") do |v|
          @options[:robot] = Waypoints.numbers(v.split(",", -1).map(&:strip))
          raise OptionParser::InvalidArgument, "--robot #{v}: expected X,Y" unless @options[:robot]&.size == 2
        end
        o.on("--output FORMAT", OUTPUTS, "text, json or csv (default text)") { |v| @options[:output] = v }
        o.on("--improve", "shorten the route by local search (a few ms at 200 cities)") do
          @options[:improve] = true unless @options[:improve].is_a?(Integer)
        end
        o.on("--kicks N", Integer, "the local search's budget (implies --improve; default 1200)") do |v|
          raise OptionParser::InvalidArgument, "--kicks #{v}: expected 0 or more" if v.negative?

          @options[:improve] = v
        end
        o.on("--svg FILE", "also draw the route as an SVG picture in FILE") { |v| @options[:svg] = v }
        o.on("-h", "--help", "show this help") do
          @out.puts o.help + HELP_EXAMPLES
          @options[:help] = true
        end
      end
    end

    # The file's points in the format chosen or implied.
    def read_points(path)
      format = @options[:format] || Waypoints.format_of(path)
      raise Waypoints::Error, "#{path}: unknown extension; name the format with --format csv, json or tsplib" unless format

      points = Waypoints.parse(File.read(path), format, path)
      raise Waypoints::Error, "#{path}: no waypoints" if points.empty?

      points
    end

    # The cities, the robot, and the file number of each solver node.
    def split_robot(points, path)
      if @options[:robot]
        cities = points
        robot = @options[:robot]
        numbering = (0...cities.size).to_a + [nil]
      else
        robot, *cities = points
        numbering = (1..cities.size).to_a + [0]
      end
      limit = @options[:robot] ? MAX_CITIES : MAX_CITIES + 1
      if points.size > limit
        raise Waypoints::Error, "#{path}: #{points.size} points, but at most #{MAX_CITIES} cities can be " \
                                "planned#{@options[:robot] ? "" : " besides the robot (the first point)"}"
      end
      [cities, robot, numbering]
    end

    # Prints the route in the chosen output format; `numbering` gives each
    # solver node's number in the file (nil for a robot given with --robot).
    def print_route(route, points, numbering, robot)
      stops = route.order.map { |node| [numbering[node], points[node]] }
      case @options[:output]
      when "text" then stops.each { |index, _| @out.puts index unless index.nil? }
      when "json"
        data = { "order" => stops.map(&:first).compact, "travel" => route.travel,
                 "unplaced" => route.unplaced.map { |node| numbering[node] } }
        data["robot"] = robot if @options[:robot]
        @out.puts JSON.generate(data)
      when "csv"
        @out.puts "index,x,y"
        stops.each { |index, (x, y)| @out.puts "#{index},#{x},#{y}" }
      end
    end

    # Says on standard error which waypoints could not be placed.
    def warn_unplaced(route, numbering)
      return if route.unplaced.empty?

      @err.puts "corvelanth: #{route.unplaced.size} waypoint(s) could not be placed (30000 or more from the " \
                "rest): #{route.unplaced.map { |node| numbering[node] }.join(", ")}"
    end
  end
end
