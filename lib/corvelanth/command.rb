# frozen_string_literal: true

require "json"
require "optparse"
require_relative "version"
require_relative "waypoints"

class Corvelanth
  # The corvelanth command: plans a route through the waypoints of a file.
  class Command
    # The output formats --output takes.
    OUTPUTS = %w[text json csv].freeze
    # The largest budget plan accepts, in kicks.
    MAX_KICKS = 10_000_000
    # Exit statuses: planned; refused or failed; planned, but some waypoints
    # could not be placed; interrupted (SIGINT).
    EXIT_PLANNED = 0
    # Exit status: nothing was planned (a bad file or argument, or a failed write).
    EXIT_FAILED = 1
    # Exit status: the route was printed but leaves waypoints out.
    EXIT_UNPLACED = 2
    # Exit status after Ctrl-C, as a shell reports SIGINT.
    EXIT_INTERRUPTED = 130
    # Seconds of search before the progress line appears on a terminal.
    PROGRESS_AFTER = 0.5
    # What messages call standard input, which the file name "-" stands for.
    STDIN_NAME = "standard input"

    # What --help shows after the options: the numbering, the output formats and examples.
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

        TSPLIB files may set their own costs instead: EDGE_WEIGHT_TYPE GEO
        (latitude and longitude as DDD.MM, TSPLIB's geographical distance in
        km, which --robot and --finish points take too), or EXPLICIT with an
        EDGE_WEIGHT_FORMAT of FULL_MATRIX, UPPER_ROW, LOWER_ROW, UPPER_DIAG_ROW
        or LOWER_DIAG_ROW and an optional DISPLAY_DATA_SECTION. A matrix's
        first node is the robot (--robot and --finish are refused; use
        --round-trip to come back):
          DIMENSION: 4
          EDGE_WEIGHT_TYPE: EXPLICIT
          EDGE_WEIGHT_FORMAT: UPPER_ROW
          EDGE_WEIGHT_SECTION
          4 9 2
          3 6
          7
          EOF
        corvelanth --round-trip --improve shelves.tsp

      Route ends, costs and deadlines:
        corvelanth --round-trip --improve waypoints.csv      back to the start
        corvelanth --finish 20,0 --improve waypoints.csv     end at (20, 0)
        corvelanth --time-limit 0.05 waypoints.csv           search for 50 ms
        corvelanth --costs costs.csv --improve waypoints.csv
      costs.csv has one row and one column per node, in the command's
      numbering: the file's points, then the --robot point, then the --finish
      point (a round trip ends on the robot's row). For the three points above:
          0,13.9,12.1
          13.9,0,15.8
          12.1,15.8,0
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

      cities, robot, numbering, weights = read_waypoints(path)
      finish = @options[:round_trip] ? robot : @options[:finish]
      numbering << (@options[:round_trip] ? numbering.last : nil) if finish
      nodes = cities + [robot] + [finish].compact
      costs = plan_costs(path, weights, numbering, nodes)
      route = plan(cities, robot, finish, costs)
      text = route_text(route, nodes, numbering, robot)
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
    rescue ArgumentError => e
      raise unless e.message.start_with?("costs")

      # The matrix's rows are plan's nodes: name them by the file's rows.
      message = e.message.gsub(/costs\[(\d+)\]\[(\d+)\]/) { "row #{@cost_rows[$1.to_i]}, column #{@cost_rows[$2.to_i]}" }
      failure("#{@costs_name}: #{message.sub(/: costs must/, ": the costs must")}")
    rescue Interrupt
      EXIT_INTERRUPTED
    end

    private

    # Plans the route, showing the search's progress on standard error when
    # that is a terminal and the search has run for half a second.
    def plan(cities, robot, finish, costs)
      keywords = { finish: finish, costs: costs, improve: @options[:improve], time_limit: @options[:time_limit] }
      return Corvelanth.plan(cities, robot, **keywords) unless @err.respond_to?(:tty?) && @err.tty?

      started = Process.clock_gettime(Process::CLOCK_MONOTONIC)
      shown = false
      route = Corvelanth.plan(cities, robot, **keywords) do |best|
        seconds = Process.clock_gettime(Process::CLOCK_MONOTONIC) - started
        next if seconds < PROGRESS_AFTER

        @err.write(format("\rcorvelanth: searching, %.1f s, best travel %.4f ", seconds, best.travel))
        shown = true
      end
      route
    ensure
      @err.write("\r\e[K") if shown
    end

    # Reads the options into @options; the file's path, or nil after --help
    # or --version (whose text is then in @printed).
    def parse_options(argv)
      option_parser.parse!(argv)
      return nil if @printed
      raise UsageError, "expected one waypoint file, got #{argv.size}" unless argv.size == 1
      raise UsageError, "--finish and --round-trip: give one of them" if @options[:finish] && @options[:round_trip]

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
        o.on("--robot X,Y", "the robot's position (default: the file's first point)") do |v|
          @options[:robot] = point_option("--robot", v)
        end
        o.on("--output FORMAT", OUTPUTS, "text, json or csv (default text)") { |v| @options[:output] = v }
        o.on("--improve", "shorten the route by local search (a few ms at 200 cities)") do
          @options[:improve] = true unless @options[:improve].is_a?(Integer)
        end
        o.on("--kicks N", "the local search's budget, 0 to #{MAX_KICKS} (implies --improve; default #{DEFAULT_KICKS})") do |v|
          @options[:improve] = kicks_option(v)
        end
        o.on("--finish X,Y", "end the route at this point") { |v| @options[:finish] = point_option("--finish", v) }
        o.on("--round-trip", "end the route where it starts") { @options[:round_trip] = true }
        o.on("--costs FILE", "travel costs: a CSV of N rows of N numbers, one row per node (see below)") do |v|
          @options[:costs] = v
        end
        o.on("--time-limit SECONDS", "stop the search after this long (implies --improve at the largest budget)") do |v|
          @options[:time_limit] = time_limit_option(v)
        end
        o.on("--svg FILE", "also draw the route as an SVG picture in FILE") { |v| @options[:svg] = v }
        o.on("--version", "show the version") { @printed ||= "corvelanth #{VERSION}\n" }
        o.on("-h", "--help", "show this help") { @printed ||= o.help + HELP_EXAMPLES }
      end
    end

    # The point of an option's "X,Y".
    def point_option(name, value)
      fields = value.split(",", -1).map(&:strip)
      where = "#{name} #{display(value)}"
      point = fields.size == 2 ? fields.map { |field| Waypoints.coordinate(field, where) } : []
      raise UsageError, "#{where}: expected X,Y, two numbers" unless point.size == 2 && point.all?

      point
    rescue Waypoints::Error => e
      raise UsageError, e.message
    end

    # The seconds of --time-limit: a positive decimal number.
    def time_limit_option(value)
      seconds = Waypoints.coordinate(value.strip, "--time-limit #{display(value)}")
      return seconds if seconds&.positive?

      raise UsageError, "--time-limit #{display(value)}: expected a positive number of seconds"
    rescue Waypoints::Error
      raise UsageError, "--time-limit #{display(value)}: expected a positive number of seconds"
    end

    # The costs plan is given, in its node order, or nil for straight lines:
    # those of --costs, of a TSPLIB matrix, or TSPLIB's geographical
    # distances between +nodes+ (plan's points, the finish last).
    def plan_costs(path, weights, numbering, nodes)
      if weights == :geo
        %i[robot finish].each { |option| geo_option(option) }
        return nodes.map { |a| nodes.map { |b| Waypoints.geo_distance(a, b) } }
      end
      return nil unless @options[:costs] || weights

      @costs_name = display(@options[:costs] || path)
      file_nodes = cost_rows_in_plan_order(numbering)
      rows = weights || File.open(@options[:costs], "rb") { |io| cost_rows(io, @costs_name, file_nodes) }
      @cost_rows.map { |a| @cost_rows.map { |b| rows[a][b] } }
    rescue SystemCallError, IOError => e
      raise Waypoints::Error, "#{@costs_name}: #{reason(e)}"
    end

    # Refuses a --robot or --finish point that is not a GEO point.
    def geo_option(option)
      point = @options[option]
      Waypoints.check_geo(point, "--#{option} #{point.join(",")}") if point
    rescue Waypoints::Error => e
      raise UsageError, e.message
    end

    # Sets @cost_rows, the row of a cost matrix that each of plan's nodes
    # takes, and returns how many rows the matrix has. The matrix has a row
    # and a column for each node in the command's numbering: the file's
    # points (the robot first unless --robot is given), then a --robot point,
    # then a --finish point; a round trip's finish is the robot's row.
    def cost_rows_in_plan_order(numbering)
      finish = @options[:round_trip] || @options[:finish]
      cities = numbering.size - (finish ? 2 : 1)
      points = numbering.first(cities + 1).compact.size
      robot_row = numbering[cities] || points
      file_nodes = points + (@options[:robot] ? 1 : 0) + (@options[:finish] ? 1 : 0)
      @cost_rows = numbering.first(cities) + [robot_row]
      @cost_rows << (@options[:round_trip] ? robot_row : file_nodes - 1) if finish
      file_nodes
    end

    # The rows of a cost file: +count+ lines of +count+ finite numbers.
    def cost_rows(io, name, count)
      rows = []
      io.each_line(chomp: true, limit: 1 << 20) do |line|
        line = line.force_encoding(Encoding::UTF_8).delete_prefix("\uFEFF").chomp("\r")
        next if line.strip.empty? || line.start_with?("#")

        where = "#{name}:#{io.lineno}"
        raise Waypoints::Error, "#{where}: more than #{count} rows, one for each node" if rows.size == count
        fields = line.split(",", -1).map(&:strip)
        unless fields.size == count
          raise Waypoints::Error, "#{where}: #{fields.size} costs, expected #{count}, one for each node"
        end
        rows << fields.map { |field| cost_field(field, where) }
      end
      raise Waypoints::Error, "#{name}: #{rows.size} rows of costs, expected #{count}, one for each node" if rows.size < count

      rows
    end

    # One cost: a finite number, at least 0.
    def cost_field(field, where)
      cost = Waypoints.coordinate(field, where)
      raise Waypoints::Error, "#{where}: a cost must be a number of at least 0 (not #{display(field)})" unless cost&.>=(0)

      cost
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

    # The cities, the robot, the file number of each solver node, and the
    # costs the file sets (see Waypoints::Contents). A node of a matrix
    # without coordinates is its file number, which plan takes as a label.
    def read_waypoints(path)
      limit = @options[:robot] ? MAX_CITIES : MAX_CITIES + 1
      contents = read_points(path, limit)
      check_file_costs(path, contents)
      points = contents.points.each_with_index.map { |point, i| point || i }
      if @options[:robot]
        [points, @options[:robot], (0...points.size).to_a + [nil], contents.weights]
      else
        robot, *cities = points
        [cities, robot, (1..cities.size).to_a + [0], contents.weights]
      end
    end

    # Refuses options that a file's own costs leave no room for.
    def check_file_costs(path, contents)
      return unless contents.weights

      name = display(path)
      raise UsageError, "--costs: #{name} sets its own costs" if @options[:costs]
      return if contents.weights == :geo

      %i[robot finish].each do |option|
        next unless @options[option]

        raise UsageError, "--#{option}: the matrix of #{name} has no row for it (its first node is the robot; " \
                          "--round-trip ends there)"
      end
      raise UsageError, "--svg: #{name} gives no coordinates to draw" if @options[:svg] && contents.points.include?(nil)
    end

    # The file's Contents in the format chosen or implied, at most +limit+ points.
    def read_points(path, limit)
      name = path == "-" ? STDIN_NAME : display(path)
      contents = open_waypoints(path, name) do |io|
        Waypoints.read_contents(io, waypoint_format(path, name), name, limit: limit)
      end
      raise Waypoints::Error, "#{name}: no waypoints" if contents.points.empty?

      contents
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
        data["finish"] = @options[:finish] if @options[:finish]
        "#{JSON.generate(data)}\n"
      # A node of a matrix without coordinates has empty x and y.
      when "csv" then "index,x,y\n#{stops.map { |index, point| "#{index},#{point.is_a?(Array) ? point.join(",") : ","}\n" }.join}"
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
