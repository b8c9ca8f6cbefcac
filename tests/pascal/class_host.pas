// SPDX-License-Identifier: MIT
{
  A station host in Object Pascal (Free Pascal, delphi mode) built on the
  unit's classes, on Linux and Windows alike:
   - a call the driver refuses (nozzle 9) and a failed exchange reach the
     host as EVu30Error with the library's kind and message, and the host
     goes on;
   - a raise inside the host's Transact, through TVu30DispatcherBase, fails
     that exchange only: the host's Raised sees the object, and the next
     call on the same post is served;
   - a Free from inside the host's Transact is refused and keeps the
     driver, which a later Free from outside releases.
  Prints each failed check and a summary; exits 0 when all passed.
}
program class_host;

{$mode delphi}{$H+}

uses
  {$ifdef UNIX}
  cthreads, cwstring,
  {$endif}
  SysUtils, vu30;

const
  Post = 3;

type
  TLine = (lineAnswers, lineSilent, lineRaises);

  THost = class(TVu30DispatcherBase)
  protected
    function Transact(Channel: Byte; LineAddress: Byte; Request: PByte; RequestLength: Byte;
      Reply: PByte; ReplyLength: Byte; ReplyType: Byte): LongInt; override;
    procedure Raised(E: TObject); override;
  public
    Line: TLine;
    Exchanges: Integer;
    RaisedText: string;
    { Freed from inside the next answered exchange, when set; the kind the
      Free raised (0: none). }
    FreeInside: TVu30Driver;
    FreeKind: LongWord;
  end;

{$I checks.inc}

function THost.Transact(Channel: Byte; LineAddress: Byte; Request: PByte; RequestLength: Byte;
  Reply: PByte; ReplyLength: Byte; ReplyType: Byte): LongInt;
var
  Count, Expected: Byte;
begin
  Inc(Exchanges);
  case Line of
    lineSilent:
      Result := 1; { no answer: a failed exchange, as a result }
    lineRaises:
      raise Exception.Create('the host''s line failed');
  else
    begin
      { The dispenser's acknowledgement: the reply byte 0. }
      if FreeInside <> nil then
      begin
        FreeKind := 0;
        try
          FreeInside.Free;
        except
          on E: EVu30Error do
            FreeKind := E.Kind;
        end;
        FreeInside := nil;
      end;
      if ReplyLength > 0 then
      begin
        Reply[0] := 0;
        Count := 1;
        Expected := 1;
        CheckReply(Channel, Reply, Count, Expected);
      end;
      Result := 0;
    end;
  end;
end;

procedure THost.Raised(E: TObject);
begin
  if E is Exception then
    RaisedText := Exception(E).Message;
end;

{ Kind of the EVu30Error that Call raised (0 when it raised none), its
  message in Text. }
type
  TCall = procedure of object;

function KindOf(Call: TCall; out Text: RawByteString): LongWord;
begin
  Result := 0;
  Text := '';
  try
    Call;
  except
    on E: EVu30Error do
    begin
      Result := E.Kind;
      Text := RawByteString(E.Message);
    end;
  end;
end;

type
  TCalls = class
    Driver: TVu30Driver;
    procedure PriceOnNozzle9;
    procedure PriceOnNozzle2;
    procedure Start;
  end;

procedure TCalls.PriceOnNozzle9;
begin
  Driver.SetPrice(Post, 9, 52.30);
end;

procedure TCalls.PriceOnNozzle2;
begin
  Driver.SetPrice(Post, 2, 52.30);
end;

procedure TCalls.Start;
begin
  Driver.StartPump(Post);
end;

var
  Host: THost;
  Calls: TCalls;
  Text: RawByteString;
  Before: Integer;
begin
  Host := THost.Create;
  Calls := TCalls.Create;
  Calls.Driver := TVu30Driver.Create(Host);
  try
    Calls.Driver.OpenPost(Post);

    { Refused before anything is sent. }
    Before := Host.Exchanges;
    Check(KindOf(Calls.PriceOnNozzle9, Text) = Vu30ErrorRefused, 'nozzle 9 is refused');
    Check(Pos('nozzle', string(Text)) > 0, 'with the refusal''s message');
    Check(Host.Exchanges = Before, 'nothing is sent for a refused call');

    { A failed exchange: the operation's own message. }
    Host.Line := lineSilent;
    Check(KindOf(Calls.Start, Text) = Vu30ErrorSerialIO, 'a silent line fails the start');
    Check(Text = 'Can''t START POMP', 'with the start''s message');
    { The price's message is cp1251 Cyrillic: "Н" is $CD. }
    Check(KindOf(Calls.PriceOnNozzle2, Text) = Vu30ErrorSerialIO, 'a silent line fails the price');
    Check((Length(Text) > 0) and (Text[1] = #$CD), 'the price''s message is in code page 1251');

    { A raise inside Transact fails that exchange only. }
    Host.Line := lineRaises;
    Check(KindOf(Calls.PriceOnNozzle2, Text) = Vu30ErrorSerialIO,
      'a raise inside Transact fails the exchange');
    Check(Host.RaisedText = 'the host''s line failed', 'Raised sees the host''s exception');

    { The host goes on: the same post is served (the channel pair is free). }
    Host.Line := lineAnswers;
    Before := Host.Exchanges;
    Check(KindOf(Calls.PriceOnNozzle2, Text) = 0, 'the next price on the post is set');
    Check(Host.Exchanges > Before, 'and went on the line');
    Check(Calls.Driver.LinkStatus[Post] = Vu30LinkGood, 'the link is good again');

    { A Free from inside the driver's own exchange is refused; the object
      keeps its driver, which still answers. }
    Host.FreeInside := Calls.Driver;
    Host.FreeKind := High(LongWord);
    Check(KindOf(Calls.PriceOnNozzle2, Text) = 0, 'the exchange that frees inside completes');
    Check(Host.FreeKind = Vu30ErrorRefused, 'a Free inside the exchange is refused');
    Check(Calls.Driver.Handle <> nil, 'the refused Free keeps the driver');
    Check(KindOf(Calls.PriceOnNozzle2, Text) = 0, 'and the driver is still served');
  finally
    { From outside: released, without a raise. }
    Text := '';
    try
      Calls.Driver.Free;
    except
      on E: Exception do
        Text := RawByteString(E.Message);
    end;
    Check(Text = '', 'the Free from outside releases the driver');
  end;
  Calls.Free;
  Host.Free;
  CheckSummary;
end.
