# frozen_string_literal: true

require "json"
require "optparse"
require_relative "version"
require_relative "waypoints"

class Corvelanth
  # The corvelanth command: plans a route through the waypoints of a file.
  class Command
    OUTPUTS = %w[text json csv].freeze
    # The largest budget plan accepts, in kicks.
    MAX_KICKS = 10_000_000
    # Exit statuses: planned; refused or failed; planned, but some waypoints
    # could not be placed; interrupted (SIGINT).
    EXIT_PLANNED = 0
    EXIT_FAILED = 1
    EXIT_UNPLACED = 2
    EXIT_INTERRUPTED = 130
    # What messages call standard input, which the file name "-" stands for.
    STDIN_NAME = "standard input"

    HELP_EXAMPLES = <<~TEXT

      The route starts at the robot: the point given with --robot, or else the
      file's first point. Stops are numbered by their place in the file, from 0
      (header, blank and comment lines are not counted); a robot given with
      --robot has no number. At most #{MAX_CITIES} cities. A file named -
      is standard input; give its format with --format.

      Output formats:
        text  one stop per line, the robot's number first (none with --robot)
        json  {"order": [...], "travel": length, "unplaced": [...]}
              (and "robot": [x, y] with --robot)
        csv   index,x,y per stop, with a header; the robot's index is empty with --robot
              (the command reads this back: the header names the x and y columns)

      Exit status: 0 planned; 1 refused (a message on standard error);
      2 planned, but some waypoints could not be placed (named on standard
      error; the route is printed without them); 130 interrupted.

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

        berlin52.tsp (TSPLIB, EUC_2D: "id x y" lines after NODE_COORD_SECTION):
          DIMENSION : 2
          EDGE_WEIGHT_TYPE : EUC_2D
          NODE_COORD_SECTION
          1 565.0 575.0
          2 25.0 185.0
          EOF
        corvelanth --format tsplib --kicks 5000 --output csv berlin52.tsp
    TEXT

    # A command line the command cannot follow; the message says why.
    class UsageError < StandardError; end

    # Output that could not be written; the message says where and why.
    class WriteError < StandardError; end

    # Runs the command with +argv+, writing to +out+ and +err+ and reading
    # standard input from +input+; the exit status.
    def self.run(argv, out: $stdout, err: $stderr, input: $stdin)
      new(out, err, input).run(argv)
    end

    def initialize(out, err, input)
      @out = out
      @err = err
      @input = input
      @options = { output: "text", improve: false }
    end

    # Parses the arguments, plans the route and prints it; the exit status.
    def run(argv)
      path = parse_options(argv.map(&:b))
      return write_out(@printed) || EXIT_PLANNED unless path

      cities, robot, numbering = read_waypoints(path)
      route = Corvelanth.plan(cities, robot, improve: @options[:improve])
      text = route_text(route, cities + [robot], numbering, robot)
      if @options[:svg]
        picture = Corvelanth::SVG.draw(cities, robot, route, labels: numbering, improve: @options[:improve])
        write_svg(@options[:svg], picture)
      end
      write_out(text)
      route.unplaced.empty? ? EXIT_PLANNED : warn_unplaced(route, numbering)
    rescue UsageError, OptionParser::ParseError => e
      failure("#{display(e.message)} (see --help)")
    rescue Waypoints::Error, WriteError => e
      failure(e.message)
    rescue Corvelanth::UnreachableError
      failure("#{display(path)}: no waypoint is closer than 30000 to the robot")
    rescue Interrupt
      EXIT_INTERRUPTED
    end

    private

    # Reads the options into @options; the file's path, or nil after --help
    # or --version (whose text is then in @printed).
    def parse_options(argv)
      option_parser.parse!(argv)
      return nil if @printed
      raise UsageError, "expected one waypoint file, got #{argv.size}" unless argv.size == 1

      path = argv.first
      check_svg_target(path)
      path
    end

    def option_parser
      OptionParser.new do |o|
        o.banner = "Usage: corvelanth [options] WAYPOINTS_FILE\n\nPlans a short open route for a robot " \
                   "through the waypoints of a CSV, JSON or TSPLIB file.\n\nOptions:"
        o.on("--format FORMAT", Waypoints::FORMATS, "csv, json or tsplib (default: by the file's extension)") do |v|
          @options[:format] = v
        end
        o.on("--robot X,Y", "the robot's position (default: the file's first point)") { |v| @options[:robot] = robot_option(v) }
        o.on("--output FORMAT", OUTPUTS, "text, json or csv (default text)") { |v| @options[:output] = v }
        o.on("--improve", "shorten the route by local search (a few ms at 200 cities)") do
          @options[:improve] = true unless @options[:improve].is_a?(Integer)
        end
        o.on("--kicks N", "the local search's budget, 0 to #{MAX_KICKS} (implies --improve; default 1200)") do |v|
          @options[:improve] = kicks_option(v)
        end
        o.on("--svg FILE", "also draw the route as an SVG picture in FILE") { |v| @options[:svg] = v }
        o.on("--version", "show the version") { @printed ||= "corvelanth #{VERSION}\n" }
        o.on("-h", "--help", "show this help") { @printed ||= o.help + HELP_EXAMPLES }
      end
    end

    # The robot's point from --robot's "X,Y".
    def robot_option(value)
      fields = value.split(",", -1).map(&:strip)
      where = "--robot #{display(value)}"
      point = fields.size == 2 ? fields.map { |field| Waypoints.coordinate(field, where) } : []
      raise UsageError, "#{where}: expected X,Y, two numbers" unless point.size == 2 && point.all?

      point
    rescue Waypoints::Error => e
      raise UsageError, e.message
    end

    # The budget from --kicks: a decimal whole number up to MAX_KICKS.
    def kicks_option(value)
      kicks = value.match?(/\A\d+\z/) ? Integer(value, 10) : nil
      return kicks if kicks && kicks <= MAX_KICKS

      raise UsageError, "--kicks #{display(value)}: expected a whole number from 0 to #{MAX_KICKS}"
    end

    # Refuses an --svg picture that would overwrite the waypoint file.
    def check_svg_target(path)
      svg = @options[:svg]
      return unless svg && path != "-"
      return unless File.expand_path(svg) == File.expand_path(path) || (File.exist?(svg) && File.identical?(svg, path))

      raise UsageError, "--svg #{display(svg)}: that is the waypoint file"
    end

    # The cities, the robot, and the file number of each solver node.
    def read_waypoints(path)
      limit = @options[:robot] ? MAX_CITIES : MAX_CITIES + 1
      points = read_points(path, limit)
      if @options[:robot]
        [points, @options[:robot], (0...points.size).to_a + [nil]]
      else
        robot, *cities = points
        [cities, robot, (1..cities.size).to_a + [0]]
      end
    end

    # The file's points in the format chosen or implied, at most +limit+ of them.
    def read_points(path, limit)
      name = path == "-" ? STDIN_NAME : display(path)
      points = open_waypoints(path, name) { |io| Waypoints.read(io, waypoint_format(path, name), name, limit: limit) }
      raise Waypoints::Error, "#{name}: no waypoints" if points.empty?

      points
    rescue Waypoints::TooManyPoints => e
      raise Waypoints::Error, "#{e.where}: #{e.count} points, but at most #{MAX_CITIES} cities can be " \
                              "planned#{@options[:robot] ? "" : " besides the robot (the first point)"}"
    end

    # The format --format gives, or else the one the file's name implies.
    def waypoint_format(path, name)
      format = @options[:format] || (path == "-" ? nil : Waypoints.format_of(path))
      return format if format

      raise Waypoints::Error, "#{name}: name its format with --format csv, json or tsplib" if path == "-"

      raise Waypoints::Error, "#{name}: unknown extension; name the format with --format csv, json or tsplib"
    end

    # Yields the waypoint file opened for reading as bytes ("-": standard input).
    def open_waypoints(path, name)
      return File.open(path, "rb") { |io| yield io } unless path == "-"

      @input.binmode
      yield @input
    rescue SystemCallError, IOError => e
      raise Waypoints::Error, "#{name}: #{reason(e)}"
    end

    # The route in the chosen output format; `numbering` gives each solver
    # node's number in the file (nil for a robot given with --robot).
    def route_text(route, points, numbering, robot)
      stops = route.order.map { |node| [numbering[node], points[node]] }
      case @options[:output]
      when "text" then stops.filter_map { |index, _| "#{index}\n" unless index.nil? }.join
      when "json"
        data = { "order" => stops.map(&:first).compact, "travel" => route.travel,
                 "unplaced" => route.unplaced.map { |node| numbering[node] } }
        data["robot"] = robot if @options[:robot]
        "#{JSON.generate(data)}\n"
      when "csv" then "index,x,y\n#{stops.map { |index, (x, y)| "#{index},#{x},#{y}\n" }.join}"
      end
    end

    # Writes the picture to a new file beside +path+ and renames it over
    # +path+, so that a failed write leaves whatever was there before.
    def write_svg(path, svg)
      target = File.symlink?(path) ? File.realpath(path) : path
      temporary = File.join(File.dirname(target), ".#{File.basename(target)}.#{Process.pid}.tmp")
      File.open(temporary, File::WRONLY | File::CREAT | File::EXCL, 0o666) do |file|
        file.write(svg)
        file.flush
        file.fsync
      end
      File.chmod(File.stat(target).mode & 0o7777, temporary) if File.file?(target)
      File.rename(temporary, target)
      temporary = nil
    rescue SystemCallError, IOError => e
      raise WriteError, "cannot write #{display(path)}: #{reason(e)}"
    ensure
      File.delete(temporary) if temporary && File.exist?(temporary)
    end

    # Writes +text+ to standard output and flushes it, so that a failed write
    # is reported rather than lost at exit; nil.
    def write_out(text)
      @out.write(text)
      @out.flush
      nil
    rescue SystemCallError, IOError => e
      raise WriteError, "cannot write standard output: #{reason(e)}"
    end

    # Says on standard error which waypoints could not be placed; the exit status.
    def warn_unplaced(route, numbering)
      say "#{route.unplaced.size} waypoint(s) could not be placed (30000 or more from the rest): " \
          "#{route.unplaced.map { |node| numbering[node] }.join(", ")}"
      EXIT_UNPLACED
    rescue SystemCallError, IOError
      EXIT_FAILED
    end

    # Reports a failure on standard error as far as it can; the exit status.
    def failure(message)
      say(message)
      EXIT_FAILED
    rescue SystemCallError, IOError
      EXIT_FAILED
    end

    # Writes one "corvelanth:" line to standard error.
    def say(message)
      @err.write("corvelanth: #{message}\n")
      @err.flush
    end

    # The error's reason without the interpreter's details.
    def reason(error)
      error.is_a?(SystemCallError) ? SystemCallError.new(nil, error.errno).message : error.message
    end

    # A file name or argument as valid UTF-8, for messages.
    def display(text)
      text.to_s.dup.force_encoding(Encoding::UTF_8).scrub("?")
    end
  end
end
