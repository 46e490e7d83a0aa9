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
    # The TSPLIB distances this reader honours: straight lines in the plane,
    # the geographical distance between latitudes and longitudes, and a
    # matrix in the file.
    TSPLIB_WEIGHT_TYPES = %w[EUC_2D GEO EXPLICIT].freeze
    # The layouts of an EXPLICIT matrix the reader honours.
    TSPLIB_WEIGHT_FORMATS = %w[FULL_MATRIX UPPER_ROW LOWER_ROW UPPER_DIAG_ROW LOWER_DIAG_ROW].freeze
    # The TSPLIB NODE_COORD_TYPEs the reader honours.
    TSPLIB_COORD_TYPES = %w[TWOD_COORDS].freeze
    # The TSPLIB DISPLAY_DATA_TYPEs the reader honours.
    TSPLIB_DISPLAY_TYPES = %w[COORD_DISPLAY TWOD_DISPLAY NO_DISPLAY].freeze
    # The earth's radius in km, as TSPLIB's geographical distance takes it.
    GEO_RADIUS = 6378.388
    # Pi to the six places TSPLIB's geographical distance uses.
    GEO_PI = 3.141592
    # The largest GEO coordinate, in degrees, either way.
    GEO_MAX_DEGREES = 360.0
    # A line that starts a TSPLIB section.
    SECTION = /\A[A-Z_]+_SECTION:?\z/.freeze

    # What a waypoint file holds.
    class Contents
      # Each point as [x, y] Floats, in file order (nil for a node of a
      # matrix file that gives no coordinates).
      attr_reader :points
      # The travel costs the file sets: nil for straight lines, :geo for
      # TSPLIB's geographical distance between the points, or a full matrix
      # with a row and a column for each point, in file order.
      attr_reader :weights

      def initialize(points, weights)
        @points = points
        @weights = weights
      end
    end
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
      read_contents(io, format, name, limit: limit).points
    end

    # The Contents read from +io+ in +format+: the points, and the costs a
    # TSPLIB file sets. Raises as read does.
    def read_contents(io, format, name, limit: nil)
      case format
      when "csv" then Contents.new(read_csv(each_line(io, name), name, limit), nil)
      when "json" then Contents.new(read_json(io, name, limit), nil)
      when "tsplib" then read_tsplib(each_line(io, name), name, limit)
      else raise Error, "#{name}: unknown format #{format.inspect} (use #{FORMATS.join(", ")})"
      end
    end

    # TSPLIB's geographical distance between two points written as
    # latitude and longitude in degrees and minutes (DDD.MM): whole km,
    # rounded up from the great circle on a sphere, as TSPLIB defines it.
    def geo_distance(a, b)
      lat_a, lon_a = a.map { |v| geo_radians(v) }
      lat_b, lon_b = b.map { |v| geo_radians(v) }
      q1 = Math.cos(lon_a - lon_b)
      q2 = Math.cos(lat_a - lat_b)
      q3 = Math.cos(lat_a + lat_b)
      # Rounding can take the cosine a hair past 1, where acos is undefined.
      cosine = (0.5 * (((1.0 + q1) * q2) - ((1.0 - q1) * q3))).clamp(-1.0, 1.0)
      ((GEO_RADIUS * Math.acos(cosine)) + 1.0).to_i.to_f
    end

    # Refuses a GEO point whose coordinates are not degrees and minutes
    # within GEO_MAX_DEGREES, where the distance means nothing.
    def check_geo(point, where)
      return if point.all? { |v| v.abs <= GEO_MAX_DEGREES }

      raise Error, "#{where}: a GEO coordinate is degrees and minutes (DDD.MM), at most #{GEO_MAX_DEGREES.to_i} either way"
    end

    # A DDD.MM coordinate in radians: the whole degrees, truncated toward
    # zero, and the rest as minutes.
    def geo_radians(value)
      degrees = value.truncate.to_f
      GEO_PI * (degrees + (5.0 * (value - degrees) / 3.0)) / 180.0
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

    # A TSPLIB file's Contents: the "id x y" lines of NODE_COORD_SECTION,
    # or for EXPLICIT weights the numbers of EDGE_WEIGHT_SECTION with the
    # points of DISPLAY_DATA_SECTION (or NODE_COORD_SECTION) when there are
    # any. Sections end at EOF or at the next section; a file with straight
    # lines or GEO is read no further than its node section.
    def read_tsplib(lines, name, limit)
      header = {}
      sections = {}
      section = nil
      lines.each do |line, number|
        fields = line.split
        next if fields.empty?
        break if fields.first == "EOF"

        where = "#{name}:#{number}"
        if section.nil? || SECTION.match?(fields.first)
          break if sections.key?("NODE_COORD_SECTION") && header["EDGE_WEIGHT_TYPE"] != "EXPLICIT"

          keyword = section ? fields.first.delete_suffix(":") : tsplib_header_line(line, where, header, limit)
          section = start_section(keyword, header, sections, where) if keyword.end_with?("_SECTION")
        elsif sections[section]
          read_section_line(sections[section], section, fields, where, line, header, limit)
        end
      end
      tsplib_contents(name, header, sections)
    end

    # Starts reading the section +keyword+ into +sections+ (a list of
    # points, or of weights); the section's name.
    def start_section(keyword, header, sections, where)
      raise Error, "#{where}: a second #{keyword}" if sections.key?(keyword)

      explicit = header["EDGE_WEIGHT_TYPE"] == "EXPLICIT"
      case keyword
      when "NODE_COORD_SECTION" then sections[keyword] = []
      when "DISPLAY_DATA_SECTION" then sections[keyword] = [] if explicit
      when "EDGE_WEIGHT_SECTION" then sections[keyword] = [] if explicit && weight_count(header, where)
      end
      keyword
    end

    # Reads one line of a section: a node's point, or weights.
    def read_section_line(list, section, fields, where, line, header, limit)
      if section == "EDGE_WEIGHT_SECTION"
        fields.each { |field| list << weight(field, where) }
        count = weight_count(header, where)
        if list.size > count
          raise Error, "#{where}: more weights than DIMENSION #{header["DIMENSION"]} " \
                       "#{header["EDGE_WEIGHT_FORMAT"]} holds (#{count})"
        end
      else
        list << tsplib_point(fields, where, line)
        check_geo(list.last, where) if header["EDGE_WEIGHT_TYPE"] == "GEO"
        bound = header["DIMENSION"] || limit
        raise_too_many(where, list.size, header["DIMENSION"], limit) if bound && list.size > bound
      end
    end

    # The number of weights an EXPLICIT matrix of the header's DIMENSION
    # and EDGE_WEIGHT_FORMAT has.
    def weight_count(header, where)
      n = header["DIMENSION"]
      format = header["EDGE_WEIGHT_FORMAT"]
      unless header["EDGE_WEIGHT_TYPE"] == "EXPLICIT"
        raise Error, "#{where}: EDGE_WEIGHT_SECTION needs EDGE_WEIGHT_TYPE: EXPLICIT first"
      end
      raise Error, "#{where}: EDGE_WEIGHT_SECTION needs a DIMENSION first" unless n
      unless TSPLIB_WEIGHT_FORMATS.include?(format)
        raise Error, "#{where}: EDGE_WEIGHT_SECTION needs an EDGE_WEIGHT_FORMAT first (#{TSPLIB_WEIGHT_FORMATS.join(", ")})"
      end

      case format
      when "FULL_MATRIX" then n * n
      when "UPPER_ROW", "LOWER_ROW" then n * (n - 1) / 2
      else n * (n + 1) / 2
      end
    end

    # One weight of EDGE_WEIGHT_SECTION: a finite number, at least 0.
    def weight(field, where)
      value = coordinate(field, where)
      raise Error, "#{where}: a weight must be a number of at least 0, got #{shown(field)}" unless value&.>=(0)

      value
    end

    # The Contents of a TSPLIB file whose sections have been read.
    def tsplib_contents(name, header, sections)
      dimension = header["DIMENSION"]
      explicit = header["EDGE_WEIGHT_TYPE"] == "EXPLICIT"
      points = sections["NODE_COORD_SECTION"] || (sections["DISPLAY_DATA_SECTION"] if explicit)
      raise Error, "#{name}: no NODE_COORD_SECTION" unless points || explicit
      if points && dimension && points.size != dimension
        section = sections["NODE_COORD_SECTION"] ? "NODE_COORD_SECTION" : "DISPLAY_DATA_SECTION"
        raise Error, "#{name}: DIMENSION is #{dimension}, but #{section} has #{points.size} nodes"
      end
      return Contents.new(points, header["EDGE_WEIGHT_TYPE"] == "GEO" ? :geo : nil) unless explicit

      weights = sections["EDGE_WEIGHT_SECTION"]
      raise Error, "#{name}: no EDGE_WEIGHT_SECTION" unless weights

      count = weight_count(header, name)
      raise Error, "#{name}: EDGE_WEIGHT_SECTION has #{weights.size} weights, but #{count} are needed" if weights.size < count

      Contents.new(points || Array.new(dimension), weight_matrix(weights, header["EDGE_WEIGHT_FORMAT"], dimension))
    end

    # The full matrix that +values+ lay out in +format+, mirrored from a triangle.
    def weight_matrix(values, format, n)
      return values.each_slice(n).to_a if format == "FULL_MATRIX" && n.positive?

      matrix = Array.new(n) { Array.new(n, 0.0) }
      upper = format.start_with?("UPPER")
      diagonal = format.end_with?("DIAG_ROW")
      k = 0
      n.times do |i|
        columns = upper ? ((diagonal ? i : i + 1)...n) : (0...(diagonal ? i + 1 : i))
        columns.each do |j|
          matrix[i][j] = matrix[j][i] = values[k]
          k += 1
        end
      end
      matrix
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
        header[keyword] = supported(value, TSPLIB_WEIGHT_TYPES, keyword, where,
                                    "straight lines in the plane, geographical distances or a matrix")
      when "EDGE_WEIGHT_FORMAT"
        header[keyword] = value # checked by the matrix, which is all it describes
      when "NODE_COORD_TYPE" then supported(value, TSPLIB_COORD_TYPES, keyword, where)
      when "DISPLAY_DATA_TYPE" then supported(value, TSPLIB_DISPLAY_TYPES, keyword, where)
      end
      keyword
    end

    # The header's +value+ when +known+ includes it; else an error that
    # names the values the reader honours.
    def supported(value, known, keyword, where, meaning = nil)
      return value if known.include?(value)

      raise Error, "#{where}: #{keyword} #{shown(value, quoted: false)} is not supported " \
                   "(only #{known.join(", ")}#{meaning ? ": #{meaning}" : ""})"
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
    def raise_too_many(where, count, dimension, limit)
      raise TooManyPoints.new(where, count, limit) if limit && count > limit

      raise Error, "#{where}: more nodes than DIMENSION (#{dimension}) says"
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
