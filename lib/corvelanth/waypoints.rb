# frozen_string_literal: true

require "json"
require "stringio"

class Corvelanth
  # Reads waypoint files: CSV, JSON or TSPLIB coordinates.
  #
  # Files are read as UTF-8 whatever the locale, line by line (JSON whole, up
  # to MAX_JSON_BYTES), and reading stops as soon as the file has more points
  # than the caller's limit, so memory stays bounded whatever the input.
  module Waypoints
    # A waypoint file that cannot be read; the message names the file and,
    # where there is one, the line.
    class Error < Corvelanth::Error; end

    # A file with more points than the reader was allowed to read.
    class TooManyPoints < Error
      # Where reading stopped ("name:line", or the name) and the points seen by then.
      attr_reader :where, :count

      def initialize(where, count, limit)
        @where = where
        @count = count
        super("#{where}: #{count} points, but at most #{limit} can be read")
      end
    end

    # The formats --format takes.
    FORMATS = %w[csv json tsplib].freeze
    # The format each file extension implies.
    EXTENSIONS = { ".csv" => "csv", ".txt" => "csv", ".json" => "json", ".tsp" => "tsplib" }.freeze
    # The longest line read; a longer one is refused rather than buffered.
    MAX_LINE_BYTES = 65_536
    # The largest JSON file read: ample for any number of points the solver takes.
    MAX_JSON_BYTES = 1 << 20
    # A coordinate as written: decimal, with an optional sign, fraction and exponent.
    NUMBER = /\A[+-]?(?:\d+(?:\.\d*)?|\.\d+)(?:[eE][+-]?\d+)?\z/.freeze
    # A byte-order mark, skipped at the start of a file.
    BOM = "\uFEFF"
    # The TSPLIB distances this reader honours: straight lines in the plane.
    TSPLIB_WEIGHT_TYPES = %w[EUC_2D].freeze
    # The TSPLIB NODE_COORD_TYPEs the reader honours.
    TSPLIB_COORD_TYPES = %w[TWOD_COORDS].freeze
    # How much of a bad line a message shows.
    SHOWN_CHARS = 60

    module_function

    # The format a file name's extension implies, or nil.
    def format_of(path)
      EXTENSIONS[File.extname(path).downcase]
    end

    # The points of +text+ in +format+ ("csv", "json" or "tsplib"), each
    # [x, y] as Floats, in file order; +name+ is the file's name for messages.
    def parse(text, format, name, limit: nil)
      read(StringIO.new(text.b), format, name, limit: limit)
    end

    # The points read from +io+ in +format+, as parse gives them; raises
    # TooManyPoints, having read no further, once there are more than +limit+.
    def read(io, format, name, limit: nil)
      case format
      when "csv" then read_csv(each_line(io, name), name, limit)
      when "json" then read_json(io, name, limit)
      when "tsplib" then read_tsplib(each_line(io, name), name, limit)
      else raise Error, "#{name}: unknown format #{format.inspect} (use #{FORMATS.join(", ")})"
      end
    end

    # The lines of +io+ with their numbers, each checked to be UTF-8 text of
    # at most MAX_LINE_BYTES, the byte-order mark taken off the first.
    def each_line(io, name)
      Enumerator.new do |lines|
        number = 0
        while (line = io.gets("\n", MAX_LINE_BYTES + 1))
          number += 1
          if line.bytesize > MAX_LINE_BYTES && !line.end_with?("\n")
            raise Error, "#{name}:#{number}: line longer than #{MAX_LINE_BYTES} bytes"
          end

          lines << [text_line(line, name, number), number]
        end
      end
    end

    # The line as UTF-8 text; raises for bytes that are not UTF-8 text.
    def text_line(line, name, number)
      text = line.dup.force_encoding(Encoding::UTF_8)
      text = text.delete_prefix(BOM) if number == 1
      return text if text.valid_encoding? && !text.include?("\0")

      raise Error, "#{name}:#{number}: not UTF-8 text (a UTF-16 or Latin-1 file? save it as UTF-8)"
    end

    # "x,y" per line; blank lines and lines starting with # are skipped. A
    # first line without a number in it is a header, and columns it names
    # x and y hold the coordinates; otherwise they are the first two fields,
    # and a row with more than two numbers is refused.
    def read_csv(lines, name, limit)
      points = []
      columns = nil
      header_possible = true
      lines.each do |line, number|
        text = line.strip
        next if text.empty? || text.start_with?("#")

        fields = text.split(",", -1).map(&:strip)
        if header_possible
          header_possible = false
          if fields.none? { |field| NUMBER.match?(field) }
            columns = named_columns(fields)
            next
          end
        end
        points << csv_point(fields, columns, "#{name}:#{number}", line)
        raise TooManyPoints.new("#{name}:#{number}", points.size, limit) if limit && points.size > limit
      end
      points
    end

    # The indices of the header's x and y columns, or nil unless it names both.
    def named_columns(fields)
      names = fields.map(&:downcase)
      x = names.index("x")
      y = names.index("y")
      x && y ? [x, y] : nil
    end

    # One CSV row's point: from the named columns, or the first two fields.
    def csv_point(fields, columns, where, line)
      x, y = columns ? fields.values_at(*columns) : fields.first(2)
      point = [coordinate(x, where), coordinate(y, where)]
      raise Error, "#{where}: expected x,y, got #{shown(line)}" unless point.all?
      if !columns && fields.drop(2).any? { |field| NUMBER.match?(field) }
        raise Error, "#{where}: more than two numbers in #{shown(line)}; name the coordinate columns " \
                     "with a header line such as index,x,y"
      end

      point
    end

    # An array of [x, y] arrays (further elements ignored).
    def read_json(io, name, limit)
      text = io.read(MAX_JSON_BYTES + 1) || +""
      raise Error, "#{name}: larger than #{MAX_JSON_BYTES} bytes, too large for a waypoint file" if text.bytesize > MAX_JSON_BYTES

      text.each_line.with_index(1) { |line, number| text_line(line, name, number) }
      data = quietly { JSON.parse(text.force_encoding(Encoding::UTF_8).delete_prefix(BOM)) }
      raise Error, "#{name}: expected a JSON array of [x, y] points" unless data.is_a?(Array)
      raise TooManyPoints.new(name, data.size, limit) if limit && data.size > limit

      data.each_with_index.map { |pair, i| json_point(pair, "#{name}: point #{i}") }
    rescue JSON::ParserError => e
      raise Error, "#{name}: not JSON: #{shorten(e.message.lines.first.to_s.strip)}"
    end

    # One JSON element's point.
    def json_point(pair, where)
      unless pair.is_a?(Array) && pair.size >= 2 && pair.first(2).all?(Numeric)
        raise Error, "#{where}: expected [x, y], got #{shorten(JSON.generate(pair, allow_nan: true))}"
      end

      point = quietly { pair.first(2).map(&:to_f) }
      raise Error, "#{where}: a coordinate is not a finite number" unless point.all?(&:finite?)

      point
    end

    # The "id x y" lines of NODE_COORD_SECTION, up to EOF or the next section,
    # after a header whose DIMENSION (when given) they must match.
    def read_tsplib(lines, name, limit)
      header = {}
      points = nil
      lines.each do |line, number|
        fields = line.split
        next if fields.empty?

        if points.nil?
          break if fields.first == "EOF"

          points = [] if tsplib_header_line(line, "#{name}:#{number}", header, limit) == "NODE_COORD_SECTION"
          next
        end
        break if fields.first == "EOF" || fields.first.match?(/\A[A-Z_]+_SECTION:?\z/)

        points << tsplib_point(fields, "#{name}:#{number}", line)
        bound = header["DIMENSION"] || limit
        raise_too_many(name, number, points.size, header["DIMENSION"], limit) if bound && points.size > bound
      end
      raise Error, "#{name}: no NODE_COORD_SECTION" unless points

      dimension = header["DIMENSION"]
      if dimension && points.size != dimension
        raise Error, "#{name}: DIMENSION is #{dimension}, but NODE_COORD_SECTION has #{points.size} nodes"
      end

      points
    end

    # Reads one header line into +header+ and checks the keywords that decide
    # how the file is read; returns the line's keyword.
    def tsplib_header_line(line, where, header, limit)
      keyword, value = line.include?(":") ? line.split(":", 2).map(&:strip) : line.strip.split(/\s+/, 2)
      value = value.to_s
      case keyword
      when "DIMENSION"
        raise Error, "#{where}: DIMENSION must be a whole number, got #{shown(value)}" unless value.match?(/\A\d+\z/)

        header["DIMENSION"] = Integer(value, 10)
        raise TooManyPoints.new(where, header["DIMENSION"], limit) if limit && header["DIMENSION"] > limit
      when "EDGE_WEIGHT_TYPE"
        unless TSPLIB_WEIGHT_TYPES.include?(value)
          raise Error, "#{where}: EDGE_WEIGHT_TYPE #{shown(value, quoted: false)} is not supported " \
                       "(only #{TSPLIB_WEIGHT_TYPES.join(", ")}: straight-line distances in the plane)"
        end
      when "NODE_COORD_TYPE"
        unless TSPLIB_COORD_TYPES.include?(value)
          raise Error, "#{where}: NODE_COORD_TYPE #{shown(value, quoted: false)} is not supported " \
                       "(only #{TSPLIB_COORD_TYPES.join(", ")})"
        end
      end
      keyword
    end

    # One "id x y" node line's point.
    def tsplib_point(fields, where, line)
      if fields.size == 3 && fields.first.match?(/\A\d+\z/)
        point = [coordinate(fields[1], where), coordinate(fields[2], where)]
        return point if point.all?
      end
      raise Error, "#{where}: expected \"id x y\", got #{shown(line)}"
    end

    # Refuses a node past DIMENSION or past the limit, whichever came first.
    def raise_too_many(name, number, count, dimension, limit)
      raise TooManyPoints.new("#{name}:#{number}", count, limit) if limit && count > limit

      raise Error, "#{name}:#{number}: more nodes than DIMENSION (#{dimension}) says"
    end

    # The field as a Float; nil when it is not a number as NUMBER writes one,
    # and an error naming +where+ when it is beyond the range of a Float.
    def coordinate(field, where)
      value = decimal(field)
      return nil unless value
      raise Error, "#{where}: a coordinate is not a finite number" unless value.finite?

      value
    end

    # The fields as Floats, or nil when one is not a finite number.
    def numbers(fields)
      values = fields.map { |f| decimal(f) }
      values.all? { |v| v&.finite? } ? values : nil
    end

    # The Float a field written as NUMBER says ("5." and "5.e3" included,
    # which Float itself refuses), or nil for anything else.
    def decimal(field)
      return nil unless field && NUMBER.match?(field)

      quietly { Float(field.sub(/\.(?!\d)/, ".0")) }
    end

    # The block's value, computed without the interpreter's warnings (a
    # number out of range warns, and the caller reports it instead).
    def quietly
      verbose = $VERBOSE
      $VERBOSE = nil
      yield
    ensure
      $VERBOSE = verbose
    end

    # A line or value for a message: its start, quoted as Ruby would.
    def shown(text, quoted: true)
      text = shorten(text.chomp)
      quoted ? text.inspect : text.inspect[1...-1]
    end

    # The text cut to SHOWN_CHARS characters.
    def shorten(text)
      text.length > SHOWN_CHARS ? "#{text[0, SHOWN_CHARS]}..." : text
    end
  end
end
